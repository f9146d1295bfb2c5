// Whole images from the sample-disc maker's UDF writer, mounted from real files and compared with their
// folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "image_builder.h"
#include "tests/support/test_support.h"
#include "tools/udf_image_writer.h"
#include "udf/file_read.h"
#include "udf/udf_volume.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using udftest::Bytes;
using udftest::pattern;

// A folder with the disc layout, a clip of several hash units, small files and awkward names.
void makeFolder(const fs::path& root) {
    fs::create_directories(root / "AACS");
    fs::create_directories(root / "BDMV" / "STREAM");
    fs::create_directories(root / "BDMV" / "PLAYLIST" / "deep" / "er");
    testsupport::writeFile(root / "AACS" / "Content000.cer", pattern(1000, 1));
    testsupport::writeFile(root / "AACS" / "ContentHash000.tbl", pattern(96, 2));
    testsupport::writeFile(root / "BDMV" / "STREAM" / "00001.m2ts", pattern(3 * 0x30000 + 6144 + 77, 3));
    testsupport::writeFile(root / "BDMV" / "STREAM" / "00002.m2ts", pattern(2 * 0x30000, 4));
    testsupport::writeFile(root / "BDMV" / "PLAYLIST" / "deep" / "er" / "x.mpls", pattern(5, 5));
    testsupport::writeFile(root / "BDMV" / "PLAYLIST" / "empty.bin", {});
    testsupport::writeFile(root / fs::u8path("caf\xc3\xa9.txt"), pattern(30, 6));
    testsupport::writeFile(root / fs::u8path("\xe2\x82\xac-\xc3\xa9.txt"), pattern(40, 7));
}

// The name the reader stores for a host (UTF-8) name: 8-bit names as single bytes, wide ones as UTF-8.
std::string readerName(const std::string& utf8) {
    std::string latin;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            latin += char(c);
        } else if ((c & 0xE0) == 0xC0 && (c & 0x1F) <= 3) {
            latin += char(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else {
            return utf8;  // a character above U+00FF: the whole name stays UTF-8
        }
    }
    return latin;
}

void compareTree(UdfVolume* volume, const DirectoryNode* directory, const fs::path& folder,
                 std::string* trail) {
    std::map<std::string, const DirectoryNode*> children;
    for (const DirectoryNode* c = directory->firstChild; c != nullptr; c = c->nextSibling) {
        EXPECT_TRUE(children.emplace(c->name, c).second) << "twice: " << c->name;
    }
    size_t onDisk = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        ++onDisk;
        std::string name = readerName(entry.path().filename().u8string());
        auto found = children.find(name);
        ASSERT_NE(found, children.end()) << "missing " << entry.path();
        const DirectoryNode* node = found->second;
        *trail += name + ";";
        if (entry.is_directory()) {
            ASSERT_EQ(node->isDirectory, 1) << name;
            compareTree(volume, node, entry.path(), trail);
            continue;
        }
        Bytes expected = testsupport::readFile(entry.path());
        ASSERT_EQ(node->isDirectory, 0) << name;
        ASSERT_EQ(node->size, expected.size()) << name;
        if (expected.empty()) {
            continue;
        }
        uint32_t size = 0;
        uint8_t* whole = readWholeFile(volume, node, &size);
        ASSERT_NE(whole, nullptr) << name;
        EXPECT_TRUE(Bytes(whole, whole + size) == expected) << name;
        heapFree(whole);
        // The way the image run reads clips: one hash unit at a time until a short unit.
        Bytes units;
        std::vector<uint8_t> unit(0x30000);
        uint32_t got = 0;
        for (uint64_t at = 0; readFileRange(volume, node, at, unit.data(), 0x30000, &got, 0); at += got) {
            units.insert(units.end(), unit.begin(), unit.begin() + got);
            if (got != 0x30000) {
                break;
            }
        }
        EXPECT_TRUE(units == expected) << name;
    }
    EXPECT_EQ(children.size(), onDisk) << folder;
}

TEST(ImageWriterImages, EveryLayoutAndOptionMountsAndMatchesItsFolder) {
    TempDir dir;
    fs::path folder = dir.path() / "disc";
    makeFolder(folder);
    auto options = [](UdfLayout layout, auto tweak) {
        UdfImageOptions o;
        o.layout = layout;
        tweak(o);
        return o;
    };
    const struct {
        const char* what;
        UdfImageOptions options;
        bool cached;
    } cases[] = {
        {"metadata 2.50", options(UdfLayout::Metadata250, [](UdfImageOptions&) {}), true},
        {"metadata in two extents",
         options(UdfLayout::Metadata250, [](UdfImageOptions& o) { o.metadataTwoExtents = true; }), false},
        {"extended entries",
         options(UdfLayout::Metadata250, [](UdfImageOptions& o) { o.extendedFileEntries = true; }), true},
        {"long descriptors",
         options(UdfLayout::Metadata250, [](UdfImageOptions& o) { o.longAllocationDescriptors = true; }),
         true},
        {"embedded", options(UdfLayout::Metadata250, [](UdfImageOptions& o) { o.embedSmallFiles = true; }),
         true},
        {"continuation",
         options(UdfLayout::Metadata250,
                 [](UdfImageOptions& o) {
                     o.continuationArea = true;
                     o.maxExtentBytes = 8192;
                 }),
         true},
        {"deleted entries",
         options(UdfLayout::Metadata250, [](UdfImageOptions& o) { o.addDeletedEntries = true; }), true},
        {"physical 1.02", options(UdfLayout::Physical102, [](UdfImageOptions&) {}), false},
        {"physical, everything",
         options(UdfLayout::Physical102,
                 [](UdfImageOptions& o) {
                     o.extendedFileEntries = true;
                     o.embedSmallFiles = true;
                     o.continuationArea = true;
                     o.maxExtentBytes = 4096;
                     o.addDeletedEntries = true;
                 }),
         false},
        {"virtual 2.01", options(UdfLayout::Virtual201, [](UdfImageOptions&) {}), false},
        {"virtual, long descriptors",
         options(UdfLayout::Virtual201,
                 [](UdfImageOptions& o) {
                     o.longAllocationDescriptors = true;
                     o.embedSmallFiles = true;
                 }),
         false},
    };
    std::string reference;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string image = dir.sub(std::string(c.what) + ".iso");
        std::string error;
        ASSERT_TRUE(writeUdfImage(folder.string(), image, c.options, &error)) << error;
        UdfVolume volume;
        ASSERT_TRUE(volume.open(image.c_str()));
        EXPECT_EQ(volume.metadataCache != nullptr, c.cached);
        ASSERT_NE(findNode(&volume, nullptr, "AACS/"), nullptr);
        ASSERT_NE(findNode(&volume, nullptr, "BDMV/STREAM/"), nullptr);
        std::string trail;
        compareTree(&volume, volume.root, folder, &trail);
        if (reference.empty()) {
            reference = trail;
        }
        EXPECT_EQ(trail, reference);
    }
}

TEST(ImageWriterImages, CutOrDamagedImagesFailWithoutCrashing) {
    TempDir dir;
    fs::path folder = dir.path() / "disc";
    makeFolder(folder);
    for (UdfLayout layout : {UdfLayout::Metadata250, UdfLayout::Physical102, UdfLayout::Virtual201}) {
        UdfImageOptions o;
        o.layout = layout;
        std::string image = dir.sub("whole.iso");
        ASSERT_TRUE(writeUdfImage(folder.string(), image, o, nullptr));
        Bytes bytes = testsupport::readFile(image);
        // Cut at assorted points: every prefix either mounts or is refused, and reads stay in bounds.
        for (size_t sectors : {size_t(25), size_t(26), size_t(257), size_t(300), bytes.size() / 2048 / 2,
                               bytes.size() / 2048 - 1}) {
            Bytes cut(bytes.begin(), bytes.begin() + std::min(bytes.size(), sectors * 2048));
            std::string path = dir.sub("cut.iso");
            testsupport::writeFile(path, cut);
            UdfVolume volume;
            bool mounted = volume.open(path.c_str());
            // Nothing below the anchor's partition can mount, and a write-once volume whose last
            // sector is no longer the VAT's entry never does.
            if (sectors <= 257 || layout == UdfLayout::Virtual201) {
                EXPECT_FALSE(mounted) << int(layout) << " cut at " << sectors;
            }
            if (mounted) {
                DirectoryNode* clip = findNode(&volume, nullptr, "BDMV/STREAM/00001.m2ts");
                if (clip != nullptr) {
                    uint32_t size = 0;
                    heapFree(readWholeFile(&volume, clip, &size));
                }
            }
        }
        UdfVolume tooShort;
        testsupport::writeFile(dir.sub("short.iso"), Bytes(bytes.begin(), bytes.begin() + 25 * 2048));
        EXPECT_FALSE(tooShort.open(dir.sub("short.iso").c_str()));
    }
}

}  // namespace
