// readFileRange at the edge positions and both copy ways, and readWholeFile.
#include "udf/file_read.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "image_builder.h"
#include "udf/sector_io.h"

namespace {

using namespace udftest;

constexpr uint32_t kUnit = 0x30000;

struct ReadDisc {
    Bytes big = pattern(3 * kUnit + 1000, 11);               // contiguous: three whole units and a tail
    Bytes a = pattern(3 * 2048, 21), b = pattern(2500, 31);  // two extents apart
    Bytes embedded = pattern(300, 41);
    std::unique_ptr<UdfVolume> volume;
    FakeDevice* device = nullptr;

    ReadDisc() {
        DiscBuilder d(Layout::Physical);
        uint32_t bigEntry = d.file(big);
        uint32_t blockA = d.putData(a);
        d.allocData(5);
        uint32_t blockB = d.putData(b);
        EntrySpec split;
        split.informationLength = a.size() + b.size();
        split.area = cat({shortAd(uint32_t(a.size()), blockA), shortAd(uint32_t(b.size()), blockB)});
        uint32_t splitEntry = d.entry(split);
        EntrySpec inside;
        inside.adType = 3;
        inside.area = embedded;
        inside.informationLength = embedded.size();
        uint32_t embeddedEntry = d.entry(inside);
        inside.informationLength = 5000;  // claims more than its sector can hold
        uint32_t overlong = d.entry(inside);
        EntrySpec shortExtents;
        shortExtents.informationLength = 10 * 2048;  // size beyond what the extents hold
        shortExtents.area = shortAd(2048, blockA);
        uint32_t truncated = d.entry(shortExtents);
        uint32_t empty = d.file({});
        uint32_t small = d.file(pattern(1000, 51));
        uint32_t dir = d.directory({});
        uint32_t root = d.directory({d.child("big", bigEntry), d.child("split", splitEntry),
                                     d.child("emb", embeddedEntry), d.child("overlong", overlong),
                                     d.child("truncated", truncated), d.child("empty", empty),
                                     d.child("small", small), d.child("dir", dir, true)});
        bool mounted = false;
        volume = mountBytes(d.finish(root), &mounted, &device);
        EXPECT_TRUE(mounted);
    }
    const DirectoryNode* node(const char* name) { return findNode(volume.get(), nullptr, name); }
};

TEST(FileRead, AlignedUnitGoesStraightIntoTheCallerBufferInWholeCommands) {
    const uint32_t commands = (96 + kMaxSectorsPerCommand - 1) / kMaxSectorsPerCommand;
    ReadDisc disc;
    std::vector<uint8_t> unit(kUnit);
    for (uint32_t i = 0; i < 3; ++i) {
        disc.device->reads.clear();
        uint32_t got = 0;
        ASSERT_TRUE(readFileRange(disc.volume.get(), disc.node("big"), uint64_t(i) * kUnit, unit.data(),
                                  kUnit, &got, 0));
        EXPECT_EQ(got, kUnit);
        ASSERT_EQ(disc.device->reads.size(), commands);
        for (uint32_t c = 0; c < commands; ++c) {
            EXPECT_EQ(disc.device->reads[c].count, std::min(96 - c * kMaxSectorsPerCommand, kMaxSectorsPerCommand));
            EXPECT_EQ(disc.device->reads[c].buffer, unit.data() + size_t(c) * kMaxSectorsPerCommand * 2048);
        }
        EXPECT_TRUE(std::equal(unit.begin(), unit.end(), disc.big.begin() + i * kUnit));
    }
}

TEST(FileRead, TailOfAClipGoesThroughTheBounceBufferUnlessWholeSectorsAreAllowed) {
    ReadDisc disc;
    std::vector<uint8_t> unit(kUnit, 0xCC);
    uint32_t got = 0;
    ASSERT_TRUE(readFileRange(disc.volume.get(), disc.node("big"), 3 * kUnit, unit.data(), kUnit, &got, 0));
    EXPECT_EQ(got, 1000u);
    EXPECT_TRUE(std::equal(unit.begin(), unit.begin() + 1000, disc.big.begin() + 3 * kUnit));
    EXPECT_EQ(unit[1000], 0xCC);  // only n bytes are written
    ASSERT_TRUE(readFileRange(disc.volume.get(), disc.node("big"), 3 * kUnit, unit.data(), kUnit, &got, 1));
    EXPECT_EQ(got, 1000u);
    EXPECT_NE(unit[1000], 0xCC);  // the whole last sector is written
    EXPECT_EQ(unit[2048], 0xCC);
    // At the end exactly: nothing, and false, so a clip of whole units ends cleanly.
    got = 99;
    EXPECT_FALSE(
        readFileRange(disc.volume.get(), disc.node("big"), disc.big.size(), unit.data(), kUnit, &got, 0));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(readFileRange(disc.volume.get(), disc.node("big"), UINT64_MAX, unit.data(), kUnit, &got, 0));
}

TEST(FileRead, UnalignedRangesCopyTheRightBytes) {
    ReadDisc disc;
    const struct {
        const char* file;
        uint64_t position;
        uint32_t length;
    } cases[] = {
        {"big", 100, 10},               // one sector, bytes 100 to 109
        {"big", 2048 + 100, 5000},      // 1948 bytes of the first sector, one whole, then a tail
        {"big", 2047, 2},               // across a sector boundary
        {"split", 0, 3 * 2048 + 2500},  // both extents, in file order
        {"split", 3 * 2048 - 10, 30},   // the last bytes of one extent and the first of the next
        {"split", 4 * 2048, 100},       // inside the second extent only
        {"split", 100, 0x30000},        // cut at the end of the file
    };
    for (const auto& c : cases) {
        const DirectoryNode* n = disc.node(c.file);
        Bytes expected = std::string(c.file) == "big" ? disc.big : cat({disc.a, disc.b});
        uint64_t available = expected.size() - c.position;
        uint32_t n_expected = uint32_t(c.length < available ? c.length : available);
        for (uint8_t whole : {0, 1}) {
            std::vector<uint8_t> out(c.length + 4096, 0xCC);
            uint32_t got = 0;
            ASSERT_TRUE(readFileRange(disc.volume.get(), n, c.position, out.data(), c.length, &got, whole));
            EXPECT_EQ(got, n_expected) << c.file << " at " << c.position;
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + got, expected.begin() + c.position))
                << c.file << " at " << c.position;
            // Unaligned starts take the bounce way whatever wholeSectors says: nothing past n is written.
            if (c.position % 2048 != 0) {
                EXPECT_EQ(out[got], 0xCC);
            }
        }
    }
}

TEST(FileRead, EmbeddedDataIsReadOnlyInsideItsSector) {
    ReadDisc disc;
    std::vector<uint8_t> out(kUnit, 0xCC);
    uint32_t got = 0;
    ASSERT_TRUE(readFileRange(disc.volume.get(), disc.node("emb"), 200, out.data(), kUnit, &got, 0));
    EXPECT_EQ(got, 100u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 100, disc.embedded.begin() + 200));
    EXPECT_EQ(out[100], 0xCC);
    // A size of 5000 in a sector that holds 2048 - 176 bytes: the rest of the sector, then nothing.
    const DirectoryNode* overlong = disc.node("overlong");
    ASSERT_TRUE(readFileRange(disc.volume.get(), overlong, 1800, out.data(), kUnit, &got, 0));
    EXPECT_EQ(got, 2048u - 176 - 1800);
    EXPECT_FALSE(readFileRange(disc.volume.get(), overlong, 1900, out.data(), kUnit, &got, 0));
    EXPECT_EQ(got, 0u);
    uint32_t size = 0;
    EXPECT_EQ(readWholeFile(disc.volume.get(), overlong, &size), nullptr);
}

TEST(FileRead, FailingSectorsGiveShortReadsInFileOrder) {
    ReadDisc disc;
    const DirectoryNode* big = disc.node("big");
    uint32_t first = big->fileExtents[0].sector;
    std::vector<uint8_t> out(kUnit);
    uint32_t got = 0;
    // Direct way: the second command fails at its ninth sector, so the 40 sectors before it are what was read.
    disc.device->failFrom(first + 40);
    ASSERT_TRUE(readFileRange(disc.volume.get(), big, 0, out.data(), kUnit, &got, 0));
    EXPECT_EQ(got, 40u * 2048);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + got, disc.big.begin()));
    // Bounce way: bytes stop at the first unreadable sector rather than landing in its place.
    ASSERT_TRUE(readFileRange(disc.volume.get(), big, 38 * 2048 + 5, out.data(), 4 * 2048, &got, 0));
    EXPECT_EQ(got, 2u * 2048 - 5);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + got, disc.big.begin() + 38 * 2048 + 5));
    disc.device->failFrom(first);
    EXPECT_FALSE(readFileRange(disc.volume.get(), big, 0, out.data(), kUnit, &got, 0));
    EXPECT_EQ(got, 0u);
    // Extents that end before the size: a short read.
    disc.device->fault = FakeDevice::Fault::None;
    ASSERT_TRUE(readFileRange(disc.volume.get(), disc.node("truncated"), 0, out.data(), 4 * 2048, &got, 0));
    EXPECT_EQ(got, 2048u);
}

TEST(FileRead, RefusedRequests) {
    ReadDisc disc;
    uint8_t out[16];
    uint32_t got = 99;
    EXPECT_FALSE(readFileRange(disc.volume.get(), nullptr, 0, out, 16, &got, 0));
    EXPECT_EQ(got, 0u);
    got = 99;
    EXPECT_FALSE(readFileRange(disc.volume.get(), disc.node("dir"), 0, out, 16, &got, 0));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(readFileRange(disc.volume.get(), disc.node("empty"), 0, out, 16, &got, 0));
    got = 99;
    EXPECT_TRUE(readFileRange(disc.volume.get(), disc.node("small"), 0, out, 0, &got, 0));
    EXPECT_EQ(got, 0u);
}

TEST(WholeFile, SizesAndRefusals) {
    ReadDisc disc;
    uint32_t size = 77;
    EXPECT_EQ(readWholeFile(disc.volume.get(), disc.node("empty"), &size), nullptr);
    EXPECT_EQ(readWholeFile(disc.volume.get(), disc.node("dir"), &size), nullptr);
    EXPECT_EQ(readWholeFile(disc.volume.get(), nullptr, &size), nullptr);
    EXPECT_EQ(readWholeFile(disc.volume.get(), disc.node("truncated"), &size), nullptr);  // short read
    EXPECT_EQ(size, 0u);
    uint8_t* small = readWholeFile(disc.volume.get(), disc.node("small"), &size);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(Bytes(small, small + 1000), pattern(1000, 51));
    heapFree(small);
    uint8_t* big = readWholeFile(disc.volume.get(), disc.node("big"), &size);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(Bytes(big, big + size), disc.big);
    heapFree(big);
    // Above 1 GiB is refused before any buffer is taken.
    DirectoryNode huge = *disc.node("small");
    huge.size = kMaxWholeFileSize + 1;
    EXPECT_EQ(readWholeFile(disc.volume.get(), &huge, &size), nullptr);
}

}  // namespace
