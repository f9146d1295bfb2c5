// File entries: short, long and embedded descriptors, extent types, continuation areas and cut-short areas.
#include "udf/file_entry.h"

#include <gtest/gtest.h>

#include "image_builder.h"
#include "udf/file_read.h"

namespace {

using namespace udftest;

constexpr uint32_t kNotRecorded = 1u << 30;
constexpr uint32_t kContinuation = 3u << 30;

// A Physical disc whose root holds one file per set of entry fields, named f0, f1, ...
struct EntryDisc {
    DiscBuilder b{Layout::Physical};
    std::vector<uint32_t> blocks;
    std::unique_ptr<UdfVolume> volume;
    FakeDevice* device = nullptr;

    DirectoryNode* mount() {
        std::vector<Bytes> children;
        for (size_t i = 0; i < blocks.size(); ++i) {
            children.push_back(b.child("f" + std::to_string(i), blocks[i]));
        }
        uint32_t root = b.directory(children);
        bool mounted = false;
        volume = mountBytes(b.finish(root), &mounted, &device);
        EXPECT_TRUE(mounted);
        return mounted ? volume->root : nullptr;
    }
    DirectoryNode* node(size_t i) {
        return findNode(volume.get(), nullptr, ("f" + std::to_string(i)).c_str());
    }
    Bytes whole(size_t i) {
        uint32_t size = 0;
        uint8_t* data = readWholeFile(volume.get(), node(i), &size);
        Bytes out(data, data + (data != nullptr ? size : 0));
        heapFree(data);
        return out;
    }
};

TEST(FileEntries, EmbeddedDataStartsAfterTheExtendedAttributes) {
    const struct {
        bool extended;
        uint32_t eaLength;
        uint32_t location;
    } cases[] = {{false, 0, 176}, {false, 40, 216}, {true, 0, 216}, {true, 12, 228}};
    EntryDisc disc;
    Bytes data = pattern(300, 5);
    for (const auto& c : cases) {
        EntrySpec fields;
        fields.extended = c.extended;
        fields.adType = 3;
        fields.eaLength = c.eaLength;
        fields.area = data;
        fields.informationLength = data.size();
        fields.timeMark = uint8_t(0x30 + c.location);
        disc.blocks.push_back(disc.b.entry(fields));
    }
    ASSERT_NE(disc.mount(), nullptr);
    for (size_t i = 0; i < std::size(cases); ++i) {
        DirectoryNode* n = disc.node(i);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->hasEmbeddedData, 1);
        EXPECT_EQ(n->extentCount, 0u);
        EXPECT_EQ(n->fileExtents, nullptr);
        EXPECT_EQ(n->dataLocation, cases[i].location);
        EXPECT_EQ(n->size, 300u);
        // The timestamp comes from offset 84 of a File Entry and 92 of an Extended File Entry.
        EXPECT_EQ(n->modificationTime[0], uint8_t(0x30 + cases[i].location));
        EXPECT_EQ(n->modificationTime[11], uint8_t(0x30 + cases[i].location));
        EXPECT_EQ(disc.whole(i), data);
    }
}

TEST(FileEntries, ExtentTypesDecideWhatTakesRoomInTheFile) {
    EntryDisc disc;
    Bytes a = pattern(4096, 1), gap = pattern(2048, 2), c = pattern(1000, 3);
    uint32_t ba = disc.b.putData(a), bg = disc.b.putData(gap), bc = disc.b.putData(c);
    EntrySpec fields;
    fields.informationLength = a.size() + c.size();
    // recorded, allocated-not-recorded, recorded, neither: the third follows the first directly.
    fields.area = cat({shortAd(4096, ba), shortAd(kNotRecorded | 2048, bg), shortAd(1000, bc),
                       shortAd((2u << 30) | 2048, bg)});
    disc.blocks.push_back(disc.b.entry(fields));
    fields.adType = 1;
    fields.area = cat({longAd(4096, ba, 0), longAd(kNotRecorded | 2048, bg, 0), longAd(1000, bc, 0)});
    disc.blocks.push_back(disc.b.entry(fields));
    ASSERT_NE(disc.mount(), nullptr);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(disc.node(i)->extentCount, 2u);
        EXPECT_EQ(disc.node(i)->fileExtents[1].sector, DiscBuilder::kPartitionStart + bc);
        EXPECT_EQ(disc.whole(i), cat({a, c}));
    }
}

// An extent in a partition that maps nothing (here a reference past the map table) keeps its place in the
// file but reads as missing: a read ends there rather than taking image sector 0 for the file's data.
TEST(FileEntries, ExtentThatLiesNowhereEndsTheReadThere) {
    EntryDisc disc;
    Bytes a = pattern(2048, 1), c = pattern(2048, 3);
    uint32_t ba = disc.b.putData(a), bc = disc.b.putData(c);
    EntrySpec fields;
    fields.adType = 1;
    fields.informationLength = 3 * 2048;
    fields.area = cat({longAd(2048, ba, 0), longAd(2048, 5, 7), longAd(2048, bc, 0)});
    disc.blocks.push_back(disc.b.entry(fields));
    ASSERT_NE(disc.mount(), nullptr);
    DirectoryNode* n = disc.node(0);
    ASSERT_EQ(n->extentCount, 3u);
    EXPECT_EQ(n->fileExtents[1].sector, kUnmappedSector);
    disc.device->reads.clear();

    const struct {
        uint64_t position;
        uint32_t length;
        Bytes want;
    } cases[] = {
        {0, 3 * 2048, a},                              // whole sectors, straight into the buffer
        {100, 5000, Bytes(a.begin() + 100, a.end())},  // through the bounce buffer
        {2048, 2048, {}},                              // only the missing extent
        {4096, 2048, c},                               // what follows it is still at its place
        {4096 + 10, 100, Bytes(c.begin() + 10, c.begin() + 110)},
    };
    for (const auto& r : cases) {
        SCOPED_TRACE(r.position);
        Bytes out(3 * 2048, 0xCC);
        uint32_t got = 0;
        EXPECT_EQ(readFileRange(disc.volume.get(), n, r.position, out.data(), r.length, &got, 0),
                  !r.want.empty());
        ASSERT_EQ(got, r.want.size());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + got), r.want);
    }
    for (const ReadCommand& read : disc.device->reads) {
        EXPECT_NE(read.sector, 0u);
        EXPECT_NE(read.sector, kUnmappedSector);
    }
    uint32_t size = 0;
    EXPECT_EQ(readWholeFile(disc.volume.get(), n, &size), nullptr);
}

TEST(FileEntries, ContinuationAreaExtentsComeInPlaceOfTheirDescriptor) {
    EntryDisc disc;
    Bytes a = pattern(2048, 1), b = pattern(2048, 2), c = pattern(2048, 3), d = pattern(700, 4);
    uint32_t ba = disc.b.putData(a), bb = disc.b.putData(b), bc = disc.b.putData(c), bd = disc.b.putData(d);
    uint32_t shortArea = disc.b.allocData(1);
    writeContinuation(disc.b.data(shortArea), cat({shortAd(2048, bb), shortAd(2048, bc)}));
    uint32_t longArea = disc.b.allocData(1);
    writeContinuation(disc.b.data(longArea), cat({longAd(2048, bb, 0), longAd(2048, bc, 0)}));
    EntrySpec fields;
    fields.informationLength = 3 * 2048 + 700;
    fields.area = cat({shortAd(2048, ba), shortAd(kContinuation | 2048, shortArea), shortAd(700, bd)});
    disc.blocks.push_back(disc.b.entry(fields));
    fields.adType = 1;
    fields.area = cat({longAd(2048, ba, 0), longAd(kContinuation | 2048, longArea, 0), longAd(700, bd, 0)});
    disc.blocks.push_back(disc.b.entry(fields));
    ASSERT_NE(disc.mount(), nullptr);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(disc.node(i)->extentCount, 4u);
        EXPECT_EQ(disc.whole(i), cat({a, b, c, d}));
    }
}

TEST(FileEntries, ContinuationAreasLeadingBackAreStopped) {
    EntryDisc disc;
    Bytes a = pattern(2048, 1), x = pattern(2048, 7);
    uint32_t ba = disc.b.putData(a), bx = disc.b.putData(x);
    uint32_t self = disc.b.allocData(1);
    writeContinuation(disc.b.data(self), cat({shortAd(2048, bx), shortAd(kContinuation | 2048, self)}));
    uint32_t first = disc.b.allocData(1), second = disc.b.allocData(1);
    writeContinuation(disc.b.data(first), cat({shortAd(kContinuation | 2048, second), shortAd(2048, bx)}));
    writeContinuation(disc.b.data(second), cat({shortAd(kContinuation | 2048, first), shortAd(2048, ba)}));
    EntrySpec fields;
    fields.informationLength = 2 * 2048;
    fields.area = cat({shortAd(2048, ba), shortAd(kContinuation | 2048, self)});
    disc.blocks.push_back(disc.b.entry(fields));
    fields.area = cat({shortAd(kContinuation | 2048, first)});
    disc.blocks.push_back(disc.b.entry(fields));
    // The same area named twice by one entry is also followed once only.
    fields.area = cat({shortAd(kContinuation | 2048, first), shortAd(kContinuation | 2048, first)});
    disc.blocks.push_back(disc.b.entry(fields));
    ASSERT_NE(disc.mount(), nullptr);
    EXPECT_EQ(disc.whole(0), cat({a, x}));
    EXPECT_EQ(disc.node(1)->extentCount, 2u);
    EXPECT_EQ(disc.whole(1), cat({a, x}));  // second's extent (a) comes first: it is followed in place
    EXPECT_EQ(disc.node(2)->extentCount, 2u);
}

// Many entries naming one file entry whose continuation chain is as long as one entry may follow, every
// area also pointing back at the first: each entry re-followed the whole chain and checked every pointer
// back against all areas seen, so a directory of a few thousand such entries took minutes to mount.
TEST(FileEntries, ContinuationWorkIsBoundedAcrossTheMount) {
    EntryDisc disc;
    uint32_t data = disc.b.putData(pattern(2048, 1));
    std::vector<uint32_t> areas;
    for (uint32_t k = 0; k < kMaxContinuationAreas; ++k) {
        areas.push_back(disc.b.allocData(1));
    }
    for (uint32_t k = 0; k < kMaxContinuationAreas; ++k) {
        Bytes descriptors = shortAd(2048, data);
        if (k + 1 < kMaxContinuationAreas) {
            descriptors = cat({descriptors, shortAd(kContinuation | 2048, areas[k + 1])});
        }
        while (descriptors.size() + 8 <= 2048 - 24) {
            descriptors = cat({descriptors, shortAd(kContinuation | 2048, areas[0])});
        }
        writeContinuation(disc.b.data(areas[k]), descriptors);
    }
    EntrySpec fields;
    fields.informationLength = uint64_t(kMaxContinuationAreas) * 2048;
    fields.area = shortAd(kContinuation | 2048, areas[0]);
    uint32_t entry = disc.b.entry(fields);
    const uint32_t sharing = 3000;
    disc.blocks.assign(sharing, entry);
    ASSERT_NE(disc.mount(), nullptr);
    // The first entries get every area's extent; once the mount has followed its share of areas, later
    // entries keep what their own file entry records and read short instead of following again.
    EXPECT_EQ(disc.node(0)->extentCount, kMaxContinuationAreas);
    EXPECT_EQ(disc.node(sharing - 1)->extentCount, 0u);
    uint64_t followed = 0;
    for (uint32_t i = 0; i < sharing; ++i) {
        ASSERT_LE(disc.node(i)->extentCount, kMaxContinuationAreas);
        followed += disc.node(i)->extentCount;
    }
    EXPECT_LE(followed, uint64_t(kMaxMountContinuationAreas));
}

TEST(FileEntries, ExtentRecordsAreBoundedAcrossTheMount) {
    // Directory entries that all name one file entry of 200 extents would each copy those extents.
    EntryDisc disc;
    uint32_t data = disc.b.putData(pattern(2048, 3));
    const uint32_t perEntry = 200;
    Bytes area;
    for (uint32_t k = 0; k < perEntry; ++k) area = cat({area, shortAd(2048, data)});
    EntrySpec fields;
    fields.informationLength = uint64_t(perEntry) * 2048;
    fields.area = area;
    uint32_t entry = disc.b.entry(fields);
    const uint32_t sharing = kMaxMountExtentRecords / perEntry + 20;
    disc.blocks.assign(sharing, entry);
    DirectoryNode* root = disc.mount();
    ASSERT_NE(root, nullptr);
    uint64_t kept = 0;
    uint32_t nodes = 0;
    const DirectoryNode* last = nullptr;
    for (const DirectoryNode* child = root->firstChild; child; child = child->nextSibling, ++nodes) {
        EXPECT_TRUE(child->extentCount == perEntry || child->extentCount == 0);
        kept += child->extentCount;
        last = child;
    }
    ASSERT_EQ(nodes, sharing);
    EXPECT_EQ(root->firstChild->extentCount, perEntry);
    EXPECT_LE(kept, uint64_t(kMaxMountExtentRecords));
    EXPECT_GT(kept, uint64_t(kMaxMountExtentRecords) - perEntry);
    // A file past the budget keeps its size and reads nothing, so no caller takes it for intact.
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->size, uint64_t(perEntry) * 2048);
    uint8_t buffer[2048];
    uint32_t got = 1;
    EXPECT_FALSE(readFileRange(disc.volume.get(), last, 0, buffer, sizeof buffer, &got, 0));
    EXPECT_EQ(got, 0u);
}

TEST(FileEntries, DescriptorAreasAreCutAtTheirBlock) {
    EntryDisc disc;
    Bytes a = pattern(2048, 1);
    uint32_t ba = disc.b.putData(a);
    // A continuation area claiming 60,000 bytes of descriptors holds two.
    uint32_t area = disc.b.allocData(1);
    writeContinuation(disc.b.data(area), cat({shortAd(2048, ba), shortAd(2048, ba)}), 60000);
    for (uint32_t i = 2 * 8 + 24; i < 2048; ++i) {
        disc.b.data(area)[i] = 0;
    }
    EntrySpec fields;
    fields.informationLength = 4096;
    fields.area = shortAd(kContinuation | 2048, area);
    disc.blocks.push_back(disc.b.entry(fields));
    // L_EA that points past the block: no descriptors at all.
    fields.area = shortAd(2048, ba);
    fields.eaLength = 0xFFFFFF00;
    disc.blocks.push_back(disc.b.entry(fields));
    // L_AD far larger than the block: only descriptors inside the block are taken.
    fields.eaLength = 0;
    fields.adLengthOverride = 0x7FFFFFF0;
    disc.blocks.push_back(disc.b.entry(fields));
    ASSERT_NE(disc.mount(), nullptr);
    EXPECT_EQ(disc.node(0)->extentCount, (2048u - 24) / 8);  // the zero descriptors of the block count too
    EXPECT_EQ(disc.whole(0), cat({a, a}));
    EXPECT_EQ(disc.node(1)->extentCount, 0u);
    EXPECT_EQ(disc.node(2)->extentCount, (2048u - 176) / 8);
    EXPECT_EQ(disc.node(2)->fileExtents[0].length, 2048u);
}

TEST(FileEntries, ExtendedOrUndefinedDescriptorsGiveNoExtents) {
    EntryDisc disc;
    for (uint8_t type : {2, 5, 7}) {
        EntrySpec fields;
        fields.adType = type;
        fields.informationLength = 4096;
        fields.area = shortAd(4096, 1);
        disc.blocks.push_back(disc.b.entry(fields));
    }
    ASSERT_NE(disc.mount(), nullptr);
    for (size_t i = 0; i < 3; ++i) {
        DirectoryNode* n = disc.node(i);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->extentCount, 0u);
        uint8_t buffer[16];
        uint32_t got = 99;
        EXPECT_FALSE(readFileRange(disc.volume.get(), n, 0, buffer, sizeof(buffer), &got, 0));
        EXPECT_EQ(got, 0u);
    }
    // Forms the reader does not take are no damage.
    EXPECT_EQ(volumeDamageCount(disc.volume.get()), 0u);
}

TEST(FileEntries, IcbLengthWithTypeBitsReadsOneSectorOnly) {
    EntryDisc disc;
    uint32_t entry = disc.b.file(pattern(100, 1));
    uint32_t root = disc.b.directory({fid(0, name8("f0"), longAd(0xC0000800, entry, 0))});
    bool mounted = false;
    disc.volume = mountBytes(disc.b.finish(root), &mounted, &disc.device);
    ASSERT_TRUE(mounted);
    DirectoryNode* n = disc.node(0);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->entryLength, 0xC0000800u);
    EXPECT_EQ(n->size, 100u);
    for (const ReadCommand& r : disc.device->reads) {
        EXPECT_LE(r.count, 16u);
    }
}

TEST(DirectoryEntries, DirectoryExtentsKeepAllBitsButTypedOnesAreNotRead) {
    DiscBuilder b(Layout::Physical);
    uint32_t inner = b.file(pattern(10, 1));
    uint32_t dataBlock = b.allocData(1);
    std::memcpy(b.data(dataBlock), fid(0, name8("x"), b.icb(inner)).data(), 40);
    EntrySpec fields;
    fields.area = shortAd(kNotRecorded | 40, dataBlock);
    uint32_t typed = b.entry(fields);
    fields.area = shortAd(0x3FFFFFFF, 90000);  // a gigabyte at a block past the image
    uint32_t huge = b.entry(fields);
    fields.area = {};
    uint32_t empty = b.entry(fields);  // L_AD 0: one record from where the first descriptor would be
    uint32_t root = b.directory(
        {b.child("typed", typed, true), b.child("huge", huge, true), b.child("empty", empty, true)});
    bool mounted = false;
    FakeDevice* device = nullptr;
    auto volume = mountBytes(b.finish(root), &mounted, &device);
    ASSERT_TRUE(mounted);
    DirectoryNode* t = findNode(volume.get(), nullptr, "typed");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->dirExtents[0].length, kNotRecorded | 40);
    EXPECT_EQ(t->firstChild, nullptr);
    DirectoryNode* h = findNode(volume.get(), nullptr, "huge");
    EXPECT_EQ(h->firstChild, nullptr);
    DirectoryNode* e = findNode(volume.get(), nullptr, "empty");
    EXPECT_EQ(e->extentCount, 1u);
    EXPECT_EQ(e->dirExtents[0].length, 0u);
    EXPECT_EQ(e->firstChild, nullptr);
    for (const ReadCommand& r : device->reads) {
        EXPECT_NE(r.sector, DiscBuilder::kPartitionStart + dataBlock) << "a typed extent was read";
    }
}

TEST(CollectRuns, RangesMapOntoTheExtentsThatHoldThem) {
    // Extents: 2 sectors at 100, 1000 bytes (one sector) at 300, 3 sectors at 500.
    FileExtent extents[] = {{100, 4096}, {300, 1000}, {500, 6144}};
    DirectoryNode node = {};
    node.fileExtents = extents;
    node.extentCount = 3;
    const struct {
        uint64_t first;
        uint32_t count;
        std::vector<std::pair<uint32_t, uint32_t>> runs;
    } cases[] = {
        {0, 6, {{100, 2}, {300, 1}, {500, 3}}},
        {1, 1, {{101, 1}}},
        {3, 2, {{500, 2}}},  // starts inside the third extent
        {4, 2, {{501, 2}}},
        {1, 3, {{101, 1}, {300, 1}, {500, 1}}},
        {5, 10, {{502, 1}}},  // the extents end first: fewer sectors than asked
        {6, 1, {}},
        {0x100000000ull, 1, {}},
    };
    // The same answers without a cursor, and with one carried from each case to the next (forward, backward
    // and past the end), as a reader going through a file does.
    ExtentCursor cursor = {nullptr, 0, 0};
    for (ExtentCursor* carried : {static_cast<ExtentCursor*>(nullptr), &cursor}) {
        for (const auto& c : cases) {
            HeapArray<SectorRun> runs;
            uint32_t n = collectRuns(&node, &runs, c.first, c.count, carried);
            std::vector<std::pair<uint32_t, uint32_t>> got;
            for (uint32_t i = 0; i < n; ++i) {
                got.push_back({runs[i].sector, runs[i].count});
            }
            EXPECT_EQ(got, c.runs) << "first " << c.first << " count " << c.count << (carried ? " cursor" : "");
        }
    }
}

TEST(CollectRuns, ReadingAFileThroughWalksItsExtentsOnce) {
    // 100,000 extents of one sector each, read a sector at a time: with the cursor each read starts at its
    // own extent, which the extent just before it shows by being where the cursor stands.
    const uint32_t count = 100000;
    std::vector<FileExtent> extents(count);
    for (uint32_t i = 0; i < count; ++i) {
        extents[i] = {1000 + 2 * i, 2048};
    }
    DirectoryNode node = {};
    node.fileExtents = extents.data();
    node.extentCount = count;
    ExtentCursor cursor = {nullptr, 0, 0};
    for (uint32_t s = 0; s < count; ++s) {
        HeapArray<SectorRun> runs;
        ASSERT_EQ(collectRuns(&node, &runs, s, 1, &cursor), 1u);
        ASSERT_EQ(runs[0].sector, 1000 + 2 * s);
        ASSERT_EQ(cursor.extent, s);
        ASSERT_EQ(cursor.sector, s);
    }
    // Another file's read does not start from this one's place.
    DirectoryNode other = node;
    HeapArray<SectorRun> runs;
    ASSERT_EQ(collectRuns(&other, &runs, 0, 1, &cursor), 1u);
    EXPECT_EQ(runs[0].sector, 1000u);
}

}  // namespace
