// Damage recorded, not hidden: file entries, directory data and continuation areas that cannot be read are
// named with their path and sector, a bad entry skips only itself, and the records are bounded.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "image_builder.h"
#include "udf/file_read.h"

namespace {

using namespace udftest;

constexpr uint32_t kContinuation = 3u << 30;

// root: AACS/{Content000.cer}, BDMV/STREAM/{00001.m2ts, 00002.m2ts, 00003.m2ts}; 00002.m2ts records its
// second extent in a continuation area. Remembers the blocks and image sectors a case damages.
struct DamageDisc {
    DiscBuilder b;
    std::map<std::string, uint32_t> sectors;
    uint32_t streamEntryBlock = 0;
    uint32_t root = 0;

    explicit DamageDisc(Layout layout) : b(layout) {
        uint32_t cer = b.file(pattern(100, 1));
        uint32_t aacs = b.directory({b.child("Content000.cer", cer)});
        uint32_t one = b.file(pattern(2048, 2));
        // Two data extents, the second named from a continuation area.
        uint32_t first = b.putData(pattern(2048, 3));
        uint32_t second = b.putData(pattern(2048, 4));
        uint32_t area = b.allocMeta(1);
        writeContinuation(b.meta(area), b.dataAd(2048, second));
        EntrySpec fields;
        fields.adType = b.dataAdType();
        fields.informationLength = 2 * 2048;
        fields.area = cat({b.dataAd(2048, first), b.metadata() || b.virtualLayout()
                                                      ? longAd(kContinuation | 2048, area, 1)
                                                      : shortAd(kContinuation | 2048, area)});
        uint32_t two = b.entry(fields);
        uint32_t three = b.file(pattern(2048, 5));
        uint32_t stream = b.directory({b.child("00001.m2ts", one), b.child("00002.m2ts", two),
                                       b.child("00003.m2ts", three)});
        uint32_t bdmv = b.directory({b.child("STREAM", stream, true)});
        root = b.directory({b.child("AACS", aacs, true), b.child("BDMV", bdmv, true)});
        streamEntryBlock = stream;
        sectors["00002 entry"] = b.metaSector(two);
        sectors["00002 area"] = b.metaSector(area);
        sectors["STREAM entry"] = b.metaSector(stream);
        // A directory's one sector of data is the meta block just before its entry.
        sectors["STREAM data"] = b.metaSector(stream - 1);
    }

    // The FID of `name` in the stream directory's data, to be pointed elsewhere.
    uint8_t* streamFid(const std::string& name) {
        uint8_t* data = b.meta(streamEntryBlock - 1);
        for (size_t at = 0; at + 38 < kSector;) {
            uint8_t* fid = data + at;
            uint8_t lfi = fid[19];
            if (lfi == name.size() + 1 && std::memcmp(fid + 38 + 1, name.data(), name.size()) == 0) {
                return fid;
            }
            at += (38 + lfi + 3) & ~size_t(3);
        }
        return nullptr;
    }
};

struct Expected {
    VolumeDamageKind kind;
    const char* path;
    uint32_t sector;
};

std::string damageText(const UdfVolume* volume) {
    std::string out;
    for (uint32_t i = 0; volumeDamageAt(volume, i) != nullptr; ++i) {
        const VolumeDamage* d = volumeDamageAt(volume, i);
        out += std::to_string(int(d->kind)) + " " + d->path + " " + std::to_string(d->sector) + "\n";
    }
    return out;
}

TEST(Damage, EachUnreadableStructureIsNamedWithItsPathAndSector) {
    const struct {
        const char* what;
        Layout layout;
        // Damages the disc; gives the damage expected from the disc's sectors.
        std::function<Expected(DamageDisc&)> damage;
        const char* stream;  // children of BDMV/STREAM ("(missing)" when the folder itself is lost)
    } cases[] = {
        {"a clip's file entry zero-filled", Layout::Physical,
         [](DamageDisc& d) {
             std::memset(d.b.image.at(d.sectors["00002 entry"]), 0, kSector);
             return Expected{VolumeDamageKind::EntryUnreadable, "BDMV/STREAM/00002.m2ts", d.sectors["00002 entry"]};
         },
         "00001.m2ts,00003.m2ts"},
        {"a clip's entry pointing past the image", Layout::Physical,
         [](DamageDisc& d) {
             put32(d.streamFid("00002.m2ts") + 24, 800000);
             return Expected{VolumeDamageKind::EntryUnreadable, "BDMV/STREAM/00002.m2ts",
                             DiscBuilder::kPartitionStart + 800000};
         },
         "00001.m2ts,00003.m2ts"},
        {"a clip's entry at a virtual block the VAT does not map", Layout::Virtual,
         [](DamageDisc& d) {
             put32(d.streamFid("00002.m2ts") + 24, 70000);
             return Expected{VolumeDamageKind::EntryUnreadable, "BDMV/STREAM/00002.m2ts", kUnmappedSector};
         },
         "00001.m2ts,00003.m2ts"},
        {"the stream folder's file entry zero-filled", Layout::Metadata,
         [](DamageDisc& d) {
             std::memset(d.b.image.at(d.sectors["STREAM entry"]), 0, kSector);
             return Expected{VolumeDamageKind::EntryUnreadable, "BDMV/STREAM/", d.sectors["STREAM entry"]};
         },
         "(missing)"},
        {"the stream folder's data zero-filled", Layout::Virtual,
         [](DamageDisc& d) {
             std::memset(d.b.image.at(d.sectors["STREAM data"]), 0, kSector);
             return Expected{VolumeDamageKind::DirectoryUnreadable, "BDMV/STREAM/", d.sectors["STREAM data"]};
         },
         ""},
        {"a continuation area zero-filled", Layout::Physical,
         [](DamageDisc& d) {
             std::memset(d.b.image.at(d.sectors["00002 area"]), 0, kSector);
             return Expected{VolumeDamageKind::ExtentsUnreadable, "BDMV/STREAM/00002.m2ts", d.sectors["00002 area"]};
         },
         "00001.m2ts,00002.m2ts,00003.m2ts"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DamageDisc disc(c.layout);
        Expected expected = c.damage(disc);
        bool mounted = false;
        auto volume = mountBytes(disc.b.finish(disc.root), &mounted);
        ASSERT_TRUE(mounted);
        DirectoryNode* stream = findNode(volume.get(), nullptr, "BDMV/STREAM");
        EXPECT_EQ(stream != nullptr ? childNames(stream) : "(missing)", c.stream);
        EXPECT_EQ(childNames(findNode(volume.get(), nullptr, "AACS")), "Content000.cer");
        ASSERT_EQ(volumeDamageCount(volume.get()), 1u) << damageText(volume.get());
        const VolumeDamage* damage = volumeDamageAt(volume.get(), 0);
        ASSERT_NE(damage, nullptr);
        EXPECT_EQ(damage->kind, expected.kind);
        EXPECT_STREQ(damage->path, expected.path);
        EXPECT_EQ(damage->sector, expected.sector);
        // A clip whose extents could not all be found reads short; one whose entry is lost is absent.
        DirectoryNode* two = findNode(volume.get(), nullptr, "BDMV/STREAM/00002.m2ts");
        if (two != nullptr && expected.kind == VolumeDamageKind::ExtentsUnreadable) {
            uint32_t size = 0;
            EXPECT_EQ(readWholeFile(volume.get(), two, &size), nullptr);
            std::vector<uint8_t> unit(2 * 2048);
            uint32_t got = 0;
            readFileRange(volume.get(), two, 0, unit.data(), uint32_t(unit.size()), &got, 0);
            EXPECT_EQ(got, 2048u);
        }
    }
}

TEST(Damage, IntactDiscsRecordNothing) {
    for (Layout layout : {Layout::Physical, Layout::Metadata, Layout::MetadataTwoExtents, Layout::Virtual}) {
        DamageDisc disc(layout);
        bool mounted = false;
        auto volume = mountBytes(disc.b.finish(disc.root), &mounted);
        ASSERT_TRUE(mounted);
        EXPECT_EQ(volumeDamageCount(volume.get()), 0u) << damageText(volume.get());
        EXPECT_EQ(volumeDamageAt(volume.get(), 0), nullptr);
        EXPECT_EQ(childNames(findNode(volume.get(), nullptr, "BDMV/STREAM")), "00001.m2ts,00002.m2ts,00003.m2ts");
    }
}

TEST(Damage, DirectoryCutByTheImageEndKeepsItsFirstSector) {
    // A stream folder of two sectors whose second lies past the end of the image, as a ripper's image one
    // sector short leaves it: the entries wholly in the first sector are listed.
    DiscBuilder b(Layout::Physical);
    uint32_t clip = b.file(pattern(100, 1));
    std::vector<Bytes> children;
    for (int i = 1; i <= 60; ++i) {
        char name[16];
        std::snprintf(name, sizeof(name), "%05d.m2ts", i);
        children.push_back(b.child(name, clip));
    }
    uint32_t stream = b.directory(children);
    uint32_t root = b.directory({b.child("STREAM", stream, true)});
    Bytes bytes = b.finish(root);
    // Move the folder's two sectors of data to the end of the image, and drop the second.
    uint8_t* entry = &bytes[size_t(b.metaSector(stream)) * kSector];
    uint32_t oldData = stream - 2;
    uint32_t newData = uint32_t(bytes.size() / kSector) - DiscBuilder::kPartitionStart;
    Bytes first(bytes.begin() + size_t(b.metaSector(oldData)) * kSector,
                bytes.begin() + size_t(b.metaSector(oldData) + 1) * kSector);
    put32(entry + 176 + 4, newData);
    bytes.insert(bytes.end(), first.begin(), first.end());
    bool mounted = false;
    auto volume = mountBytes(bytes, &mounted);
    ASSERT_TRUE(mounted);
    size_t kept = 0;
    for (DirectoryNode* n = findNode(volume.get(), nullptr, "STREAM")->firstChild; n; n = n->nextSibling) ++kept;
    EXPECT_EQ(kept, (kSector - 40) / 52);
    ASSERT_EQ(volumeDamageCount(volume.get()), 1u);
    EXPECT_EQ(volumeDamageAt(volume.get(), 0)->kind, VolumeDamageKind::DirectoryUnreadable);
    EXPECT_EQ(volumeDamageAt(volume.get(), 0)->sector, DiscBuilder::kPartitionStart + newData + 1);
    EXPECT_STREQ(volumeDamageAt(volume.get(), 0)->path, "STREAM/");
}

TEST(Damage, DirectoryDataPaddedToItsBlockIsNoDamage) {
    // A writer that records a directory's extent as a whole block: the zeros after the last entry lie past
    // the directory's information length.
    DiscBuilder b(Layout::Physical);
    uint32_t clip = b.file(pattern(100, 1));
    uint32_t stream = b.directory({b.child("00001.m2ts", clip)});
    put32(b.meta(stream) + 176, kSector);
    uint32_t root = b.directory({b.child("STREAM", stream, true)});
    bool mounted = false;
    auto volume = mountBytes(b.finish(root), &mounted);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(childNames(findNode(volume.get(), nullptr, "STREAM")), "00001.m2ts");
    EXPECT_EQ(volumeDamageCount(volume.get()), 0u) << damageText(volume.get());
}

TEST(Damage, PathsNameEveryLevel) {
    DiscBuilder b(Layout::Physical);
    uint32_t lost = 700000;
    uint32_t c = b.directory({fid(0, name8("file"), longAd(2048, lost, 0)),
                              fid(kFidDirectory, name8("dir"), longAd(2048, lost + 1, 0))});
    uint32_t bb = b.directory({b.child("c", c, true)});
    uint32_t a = b.directory({b.child("b", bb, true)});
    uint32_t root = b.directory({b.child("a", a, true)});
    bool mounted = false;
    auto volume = mountBytes(b.finish(root), &mounted);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(damageText(volume.get()), "0 a/b/c/file " + std::to_string(DiscBuilder::kPartitionStart + lost) +
                                            "\n0 a/b/c/dir/ " +
                                            std::to_string(DiscBuilder::kPartitionStart + lost + 1) + "\n");
}

TEST(Damage, RecordsAreBoundedAndEveryDamageIsCounted) {
    DiscBuilder b(Layout::Physical);
    uint32_t clip = b.file(pattern(100, 1));
    std::vector<Bytes> children;
    const uint32_t lost = kMaxRecordedDamage + 36;
    for (uint32_t i = 0; i < lost; ++i) {
        children.push_back(fid(0, name8("lost" + std::to_string(i)), longAd(2048, 600000 + i, 0)));
        children.push_back(b.child("kept" + std::to_string(i), clip));
    }
    uint32_t root = b.directory(children);
    bool mounted = false;
    auto volume = mountBytes(b.finish(root), &mounted);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(volumeDamageCount(volume.get()), lost);
    for (uint32_t i = 0; i < kMaxRecordedDamage; ++i) {
        ASSERT_NE(volumeDamageAt(volume.get(), i), nullptr);
        EXPECT_EQ(volumeDamageAt(volume.get(), i)->path, "lost" + std::to_string(i));
    }
    EXPECT_EQ(volumeDamageAt(volume.get(), kMaxRecordedDamage), nullptr);
    // Every entry after a lost one is still there.
    uint32_t kept = 0;
    for (DirectoryNode* n = volume->root->firstChild; n; n = n->nextSibling) {
        EXPECT_EQ(n->name, "kept" + std::to_string(kept));
        ++kept;
    }
    EXPECT_EQ(kept, lost);
    EXPECT_EQ(volumeDamageCount(nullptr), 0u);
    EXPECT_EQ(volumeDamageAt(nullptr, 0), nullptr);
}

}  // namespace
