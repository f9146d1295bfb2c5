// The tree built at mount and findNode: order, deleted and hidden entries, names, separators, cycles and
// bounds.
#include <gtest/gtest.h>

#include <cstring>

#include "image_builder.h"
#include "io/utf16.h"
#include "udf/file_read.h"

namespace {

using namespace udftest;

// root: AACS/{Content000.cer}, BDMV/STREAM/{00001.m2ts}, and assorted entries with awkward names.
struct TreeDisc {
    std::unique_ptr<UdfVolume> volume;
    uint32_t dupFirst = 0;

    explicit TreeDisc(Layout layout = Layout::Physical) {
        DiscBuilder b(layout);
        uint32_t cer = b.file(pattern(100, 1));
        uint32_t aacs = b.directory({b.child("Content000.cer", cer, false, 71)});
        uint32_t clip = b.file(pattern(3000, 2));
        uint32_t stream = b.directory({b.child("00001.m2ts", clip)});
        uint32_t bdmv = b.directory({b.child("STREAM", stream, true)});
        uint32_t dupA = b.file(pattern(10, 3));
        uint32_t dupB = b.file(pattern(20, 4));
        dupFirst = b.metaSector(dupA);
        uint32_t plain = b.file(pattern(5, 5));
        // A directory with its own parent entry carrying a unique ID that must not reach the root.
        uint32_t sub = b.directory({b.child("inner", plain)});
        put32(b.meta(b.allocMeta(0) - 2) + 32, 999);
        uint32_t root = b.directory({
            b.child("AACS", aacs, true),
            b.child("BDMV", bdmv, true),
            fid(kFidDeleted, name8("gone.txt"), b.icb(plain)),
            fid(kFidHidden, name8("hidden.txt"), b.icb(plain)),
            b.child("dup", dupA),
            b.child("dup", dupB),
            fid(0, name16(u"caf\u00e9"), b.icb(plain)),
            fid(0, name16(u"caf\u00e9\u20ac"), b.icb(plain)),
            fid(0, name16(u"x\U0001F600"), b.icb(plain)),
            fid(0, name8("caf\xe9"), b.icb(plain)),
            fid(0, Bytes{8}, b.icb(plain)),
            fid(0, name8("nofe"), longAd(0, 0, 0)),
            fid(kFidDirectory, name8("nodata"), longAd(0, 0, 0)),
            b.child("sub", sub, true),
        });
        // The root's own parent entry carries the root's unique ID.
        put32(b.meta(b.allocMeta(0) - 2) + 32, 4242);
        bool mounted = false;
        volume = mountBytes(b.finish(root), &mounted);
        EXPECT_TRUE(mounted);
    }
    DirectoryNode* find(const char* path, DirectoryNode* start = nullptr) {
        return findNode(volume.get(), start, path);
    }
};

TEST(DirectoryTree, ChildrenKeepDiscOrderWithoutDeletedEntries) {
    TreeDisc disc;
    std::string expected =
        "AACS,BDMV,hidden.txt,dup,dup,caf\xe9,caf\xc3\xa9\xe2\x82\xac,x\xf0\x9f\x98\x80,caf\xe9,,nofe,nodata,"
        "sub";
    EXPECT_EQ(childNames(disc.volume->root), expected);
    for (DirectoryNode* c = disc.volume->root->firstChild; c != nullptr; c = c->nextSibling) {
        EXPECT_EQ(c->parent, disc.volume->root);
    }
    EXPECT_EQ(disc.volume->root->parent, disc.volume->root);
    EXPECT_EQ(disc.volume->root->name[0], '\0');
    EXPECT_EQ(disc.find("AACS/Content000.cer")->uniqueId, 71u);
}

TEST(DirectoryTree, LookupNormalisesSeparatorsButNotCase) {
    TreeDisc disc;
    DirectoryNode* aacs = disc.find("AACS");
    DirectoryNode* stream = disc.find("BDMV/STREAM");
    ASSERT_NE(aacs, nullptr);
    ASSERT_NE(stream, nullptr);
    const struct {
        const char* path;
        DirectoryNode* expected;
    } cases[] = {
        {"AACS/", aacs},
        {"/AACS", aacs},
        {"\\AACS\\", aacs},
        {"//AACS//", aacs},
        {"BDMV/STREAM/", stream},
        {"BDMV\\STREAM", stream},
        {"/BDMV//\\STREAM\\/", stream},
        {"aacs/", nullptr},
        {"Aacs", nullptr},
        {"BDMV/stream/", nullptr},
        {"AACS/Content000.cer/x", nullptr},  // a path that goes on below a file
        {".", nullptr},
        {"..", nullptr},
        {"AACS/..", nullptr},
        {"gone.txt", nullptr},
        {"nosuch", nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(disc.find(c.path), c.expected) << c.path;
    }
    EXPECT_EQ(disc.find("hidden.txt")->name, std::string("hidden.txt"));
    EXPECT_EQ(disc.find("Content000.cer", aacs)->parent, aacs);
    EXPECT_EQ(disc.find("00001.m2ts", stream)->size, 3000u);
    EXPECT_EQ(disc.find(nullptr), disc.volume->root);
    EXPECT_EQ(disc.find(nullptr, aacs), aacs);
}

TEST(DirectoryTree, EmptyPathFindsOnlyAnEntryWithAnEmptyName) {
    TreeDisc disc;
    DirectoryNode* unnamed = disc.find("");
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->name[0], '\0');
    EXPECT_EQ(disc.find("///"), unnamed);
    EXPECT_EQ(disc.find("", disc.find("AACS")), nullptr);
}

TEST(DirectoryTree, DuplicatesAreBothKeptAndTheFirstIsFound) {
    TreeDisc disc;
    DirectoryNode* first = disc.find("dup");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->entrySector, disc.dupFirst);
    EXPECT_EQ(first->size, 10u);
    ASSERT_NE(first->nextSibling, nullptr);
    EXPECT_EQ(first->nextSibling->size, 20u);
}

TEST(DirectoryTree, SixteenBitNamesAreOneBytePerCharacterUnlessOneIsAboveFF) {
    TreeDisc disc;
    DirectoryNode* latin = disc.find("caf\xe9");
    ASSERT_NE(latin, nullptr);
    EXPECT_EQ(latin->nameIsUtf8, 0);
    EXPECT_EQ(latin->nextSibling->nameIsUtf8, 1);
    EXPECT_EQ(disc.find("caf\xc3\xa9\xe2\x82\xac"), latin->nextSibling);
    EXPECT_NE(disc.find("x\xf0\x9f\x98\x80"), nullptr);  // a surrogate pair becomes one 4-byte character
    EXPECT_EQ(disc.find("caf\xc3\xa9"), nullptr);
    // Compression ID 8 is stored byte for byte too; the first of the two equal names is found.
    EXPECT_EQ(latin->nextSibling->nextSibling->nextSibling->name, std::string("caf\xe9"));
}

TEST(DirectoryTree, EntriesWithoutFileEntryAndUniqueIds) {
    TreeDisc disc;
    DirectoryNode* nofe = disc.find("nofe");
    ASSERT_NE(nofe, nullptr);
    EXPECT_EQ(nofe->size, 0u);
    EXPECT_EQ(nofe->extentCount, 0u);
    DirectoryNode* nodata = disc.find("nodata");
    ASSERT_NE(nodata, nullptr);
    EXPECT_EQ(nodata->isDirectory, 1);
    EXPECT_EQ(nodata->firstChild, nullptr);
    EXPECT_EQ(disc.volume->root->uniqueId, 4242u);
    EXPECT_EQ(disc.find("sub")->uniqueId, 0u);
    EXPECT_NE(disc.find("sub/inner"), nullptr);
}

TEST(DirectoryTree, SameTreeOnEveryLayout) {
    std::string reference = childNames(TreeDisc(Layout::Physical).volume->root);
    for (Layout layout : {Layout::Metadata, Layout::MetadataTwoExtents, Layout::Virtual}) {
        TreeDisc disc(layout);
        EXPECT_EQ(childNames(disc.volume->root), reference);
        EXPECT_NE(disc.find("BDMV/STREAM/00001.m2ts"), nullptr);
    }
}

TEST(DirectoryTree, DirectoriesNamingAnAncestorAreStopped) {
    DiscBuilder b(Layout::Physical);
    uint32_t file = b.file(pattern(10, 1));
    // The root's entry block is known ahead: directory() allocates its data then its entry.
    uint32_t rootEntry = b.nextData + 2 + 1;
    uint32_t loop = b.directory({b.child("up", rootEntry, true), b.child("again", rootEntry, true)});
    uint32_t root =
        b.directory({b.child("loop", loop, true), b.child("self", rootEntry, true), b.child("f", file)});
    ASSERT_EQ(root, rootEntry);
    bool mounted = false;
    auto volume = mountBytes(b.finish(root), &mounted);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(childNames(volume->root), "loop,self,f");
    EXPECT_EQ(childNames(findNode(volume.get(), nullptr, "loop")), "up,again");
    EXPECT_EQ(findNode(volume.get(), nullptr, "loop/up")->firstChild, nullptr);
    EXPECT_EQ(findNode(volume.get(), nullptr, "self")->firstChild, nullptr);
}

TEST(DirectoryTree, DeepChainStopsAtTheDepthLimit) {
    DiscBuilder b(Layout::Physical);
    uint32_t entry = b.file(pattern(1, 1));
    std::string leaf = "leaf";
    for (uint32_t depth = 0; depth < kMaxDirectoryDepth + 20; ++depth) {
        entry = b.directory({depth == 0 ? b.child(leaf, entry) : b.child("d", entry, true)});
    }
    bool mounted = false;
    auto volume = mountBytes(b.finish(entry), &mounted);
    ASSERT_TRUE(mounted);
    uint32_t levels = 0;
    for (DirectoryNode* n = volume->root->firstChild; n != nullptr; n = n->firstChild) {
        ++levels;
    }
    EXPECT_EQ(levels, kMaxDirectoryDepth + 1);
}

TEST(DirectoryTree, DescriptorRunningPastTheDataEndsTheWalk) {
    DiscBuilder b(Layout::Physical);
    uint32_t file = b.file(pattern(10, 1));
    Bytes data = cat({fid(kFidDirectory | kFidParent, {}, b.icb(0)), b.child("a", file), b.child("b", file)});
    Bytes last = b.child("c", file);
    put16(&last[36], 0xFFFF);  // L_IU far past the directory's end
    data = cat({data, last});
    uint32_t block = b.allocData(1);
    std::memcpy(b.data(block), data.data(), data.size());
    EntrySpec fields;
    fields.informationLength = data.size();
    fields.area = shortAd(uint32_t(data.size()), block);
    uint32_t root = b.entry(fields);
    bool mounted = false;
    auto volume = mountBytes(b.finish(root), &mounted);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(childNames(volume->root), "a,b");
}

TEST(DirectoryTree, UnreadableEntrySkipsOnlyItself) {
    // An entry pointing past the image, in a subdirectory and in the root itself: it alone is missing, its
    // later siblings are listed, and it is named as damage.
    DiscBuilder b(Layout::Physical);
    uint32_t file = b.file(pattern(10, 1));
    uint32_t broken = b.directory({b.child("ok", file), fid(0, name8("lost"), longAd(2048, 900000, 0)),
                                   b.child("later", file)});
    uint32_t root = b.directory({fid(0, name8("gone"), longAd(2048, 900001, 0)), b.child("broken", broken, true),
                                 b.child("after", file)});
    bool mounted = false;
    auto volume = mountBytes(b.finish(root), &mounted);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(childNames(volume->root), "broken,after");
    EXPECT_EQ(childNames(findNode(volume.get(), nullptr, "broken")), "ok,later");
    ASSERT_EQ(volumeDamageCount(volume.get()), 2u);
    // The root's level is built first, then its subdirectories.
    EXPECT_EQ(volumeDamageAt(volume.get(), 0)->kind, VolumeDamageKind::EntryUnreadable);
    EXPECT_STREQ(volumeDamageAt(volume.get(), 0)->path, "gone");
    EXPECT_EQ(volumeDamageAt(volume.get(), 0)->sector, DiscBuilder::kPartitionStart + 900001);
    EXPECT_STREQ(volumeDamageAt(volume.get(), 1)->path, "broken/lost");
    EXPECT_EQ(volumeDamageAt(volume.get(), 1)->sector, DiscBuilder::kPartitionStart + 900000);
    EXPECT_EQ(volumeDamageAt(volume.get(), 2), nullptr);
}

TEST(DirectoryTree, EntriesNamingADirectoryAgainDoNotReadItAgain) {
    // A thousand entries naming the root as a subdirectory: the check that the root was built comes before
    // its data would be read again, so its data is read once.
    DiscBuilder b(Layout::Physical);
    uint32_t file = b.file(pattern(10, 1));
    // The children's descriptors have a fixed size whatever block they name, so the root's entry block,
    // which directory() allocates right after the data, is known ahead.
    std::vector<Bytes> children{b.child("f", file)};
    size_t bytes = 40 + children[0].size();
    for (int i = 0; i < 1000; ++i) {
        bytes += b.child("r" + std::to_string(i), 0, true).size();
    }
    uint32_t rootEntry = b.nextData + uint32_t((bytes + kSector - 1) / kSector);
    for (int i = 0; i < 1000; ++i) {
        children.push_back(b.child("r" + std::to_string(i), rootEntry, true));
    }
    uint32_t root = b.directory(children);
    ASSERT_EQ(root, rootEntry);
    bool mounted = false;
    FakeDevice* device = nullptr;
    auto volume = mountBytes(b.finish(root), &mounted, &device);
    ASSERT_TRUE(mounted);
    uint32_t rootData = b.metaSector(root - 1);
    int reads = 0;
    for (const ReadCommand& r : device->reads) {
        reads += rootData >= r.sector && rootData - r.sector < r.count ? 1 : 0;
    }
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(findNode(volume.get(), nullptr, "r999")->firstChild, nullptr);
}

namespace {

struct TreeCount {
    uint64_t nodes = 0;
    uint64_t nameBytes = 0;
};

void countTree(const DirectoryNode* node, TreeCount* count) {
    for (const DirectoryNode* c = node->firstChild; c != nullptr; c = c->nextSibling) {
        ++count->nodes;
        count->nameBytes += std::strlen(c->name);
        countTree(c, count);
    }
}

}  // namespace

TEST(DirectoryTree, TreeStopsAtItsNodeAndNameBudgets) {
    // Two directories whose entries each list the same 64 KiB of entries 234 times over (the first extent
    // differs, so neither is taken for the other): about 766,000 short names, or 103,000 names of 254
    // bytes, from a few hundred kilobytes of image. The entries have no file entry, so nothing more is read.
    for (size_t nameLength : {size_t(1), size_t(254)}) {
        SCOPED_TRACE(nameLength);
        DiscBuilder b(Layout::Physical);
        Bytes chunk;
        for (int i = 0; chunk.size() + 40 + nameLength <= 65536; ++i) {
            chunk = cat({chunk, fid(0, name8(std::string(nameLength, char('a' + i % 26))), longAd(0, 0, 0))});
        }
        uint32_t shared = b.putData(chunk);
        std::vector<Bytes> directories;
        for (const char* name : {"d1", "d2"}) {
            uint32_t own = b.putData(chunk);
            Bytes ads = shortAd(uint32_t(chunk.size()), own);
            while (ads.size() + 8 <= 2048 - 176) {
                ads = cat({ads, shortAd(uint32_t(chunk.size()), shared)});
            }
            EntrySpec fields;
            fields.area = ads;
            fields.informationLength = chunk.size() * (ads.size() / 8);
            directories.push_back(b.child(name, b.entry(fields), true));
        }
        uint32_t root = b.directory(directories);
        bool mounted = false;
        auto volume = mountBytes(b.finish(root), &mounted);
        ASSERT_TRUE(mounted);
        TreeCount count;
        countTree(volume->root, &count);
        EXPECT_LE(count.nodes, kMaxTreeNodes);
        EXPECT_LE(count.nameBytes, kMaxTreeNameBytes);
        if (nameLength == 1) {
            EXPECT_EQ(count.nodes, kMaxTreeNodes);
        } else {
            EXPECT_GT(count.nameBytes, kMaxTreeNameBytes - nameLength);
        }
        // The budget is no damage.
        EXPECT_EQ(volumeDamageCount(volume.get()), 0u);
    }
}

TEST(PathLookup, OverlongPathsFindNothing) {
    TreeDisc disc;
    std::string fits = std::string(240, '/') + "AACS/" + std::string(200, '/') + "Content000.cer";
    EXPECT_NE(disc.find(fits.c_str()), nullptr);  // leading and repeated separators take no room
    std::string longest = "AACS/" + std::string(249, 'x');
    EXPECT_EQ(longest.size(), 254u);
    EXPECT_EQ(disc.find(longest.c_str()), nullptr);  // fits, finds nothing
    std::string tooLong = "AACS/" + std::string(300, 'x');
    EXPECT_EQ(disc.find(tooLong.c_str()), nullptr);
}

TEST(Utf8, LengthAndConversionAgree) {
    const struct {
        std::u16string text;
        std::string utf8;
    } cases[] = {
        {u"A", "A"},
        {u"\u00e9", "\xc3\xa9"},
        {u"\u07ff\u0800", "\xdf\xbf\xe0\xa0\x80"},
        {u"\uffff", "\xef\xbf\xbf"},
        {u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},
    };
    for (const auto& c : cases) {
        Bytes units = name16(c.text);
        uint32_t count = uint32_t(c.text.size());
        EXPECT_EQ(utf8Length(&units[1], count), c.utf8.size());
        uint8_t out[16] = {};
        EXPECT_EQ(utf16beToUtf8(&units[1], count, out, 16), c.utf8.size());
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), c.utf8.size()), c.utf8);
    }
    // A zero unit ends both, counted; a limit passed gives 0.
    Bytes withZero = name16(std::u16string(u"ab\0cd", 5));
    EXPECT_EQ(utf8Length(&withZero[1], 5), 3u);
    uint8_t out[16] = {};
    EXPECT_EQ(utf16beToUtf8(&withZero[1], 5, out, 16), 3u);
    Bytes many = name16(u"\u20ac\u20ac\u20ac");
    EXPECT_EQ(utf16beToUtf8(&many[1], 3, out, 2), 0u);
    // A lone surrogate in the last unit reads no unit beyond the identifier.
    Bytes lone = name16(u"a");
    lone.push_back(0xD8);
    lone.push_back(0x00);
    EXPECT_EQ(utf8Length(&lone[1], 2), 5u);
    EXPECT_EQ(utf16beToUtf8(&lone[1], 2, out, 16), 5u);
}

}  // namespace
