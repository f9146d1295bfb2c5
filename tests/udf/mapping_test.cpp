// Block mapping per partition kind, with the numeric examples of each kind, and the metadata cache.
#include <gtest/gtest.h>

#include <algorithm>

#include "image_builder.h"
#include "udf/block_mapping.h"
#include "udf/file_entry.h"
#include "udf/partition_setup.h"
#include "udf/sector_io.h"

namespace {

using namespace udftest;

// A volume whose partition table is set by hand: slot 0 starts at `start`.
struct HandVolume {
    UdfVolume volume;
    PartitionMap maps[3] = {};
    FakeDevice* device = nullptr;

    // The partition reaches as far as any image of the tests; a VAT is bounded by it and by the image.
    HandVolume(uint32_t start, const Bytes& bytes = Bytes(2048 * 4)) : HandVolume(start, new FakeDevice(bytes)) {}
    HandVolume(uint32_t start, FakeDevice* memory) {
        device = memory;
        volume.image = device;
        volume.arena->arena = createArena(0x100000);
        volume.partitions[0] = {start, 0, UINT32_MAX};
        for (PartitionMap& m : maps) {
            m.descriptor = &volume.partitions[0];
        }
        volume.maps = maps;
        volume.mapCount = 3;
    }
    ~HandVolume() { volume.maps = nullptr; }

    // A mount chooses each map's mapping function when it sets the maps up; maps set by hand choose theirs
    // here, after their type and kind are set.
    void chooseMappings() {
        for (PartitionMap& m : maps) {
            choosePartitionMapping(&m);
        }
    }
};

uint32_t mapOne(UdfVolume* volume, uint16_t partition, uint32_t block) {
    ExtentRef extent = {kExtentLong, partition, block, 2048};
    return mapBlock(volume, &extent);
}

TEST(Mapping, Type1MapAddsThePartitionStart) {
    HandVolume hand(1024);
    hand.maps[0].mapType = 1;
    hand.chooseMappings();
    EXPECT_EQ(mapOne(&hand.volume, 0, 5), 1029u);
    EXPECT_EQ(mapOne(&hand.volume, 0, 0), 1024u);
}

TEST(Mapping, UntrustedReferencesAreUnmapped) {
    HandVolume hand(1024);
    hand.maps[0].mapType = 1;
    hand.maps[1].mapType = 1;
    hand.maps[1].descriptor = nullptr;  // no partition descriptor carries its number
    hand.maps[2].mapType = 7;
    hand.chooseMappings();
    EXPECT_EQ(mapOne(&hand.volume, 1, 5), kUnmappedSector);
    EXPECT_EQ(mapOne(&hand.volume, 2, 5), kUnmappedSector);
    EXPECT_EQ(mapOne(&hand.volume, 3, 5), kUnmappedSector);  // at mapCount
    EXPECT_EQ(mapOne(&hand.volume, 0xFFFF, 5), kUnmappedSector);
    // Reads through them read nothing instead of following the reference.
    uint8_t buffer[2048];
    ExtentRef outside = {kExtentLong, 9, 0, 2048};
    EXPECT_EQ(readExtent(&hand.volume, &outside, buffer, sizeof(buffer)), 0u);
    ExtentRef noDescriptor = {kExtentLong, 1, 0, 2048};
    EXPECT_EQ(readExtent(&hand.volume, &noDescriptor, buffer, sizeof(buffer)), 0u);
    EXPECT_TRUE(hand.device->reads.empty());
}

// Found by fuzzing: the last block of a type 1 partition maps with nothing contiguous after it, and the
// extent read asked for 0 sectors again and again instead of ending. A block whose sector, start added, lies
// past what a READ (10) can address is unmapped too, not wrapped round to the image's first sectors.
TEST(Mapping, ExtentAtTheLastType1BlockEndsItsRead) {
    HandVolume hand(2);
    hand.maps[0].mapType = 1;
    hand.chooseMappings();
    uint8_t buffer[3 * 2048];
    ExtentRef last = {kExtentLong, 0, 0xFFFFFFFF, 3 * 2048};
    EXPECT_EQ(readExtent(&hand.volume, &last, buffer, sizeof(buffer)), 0u);
    ExtentRef beforeLast = {kExtentLong, 0, 0xFFFFFFFE, 3 * 2048};
    EXPECT_EQ(mapOne(&hand.volume, 0, 0xFFFFFFFE), kUnmappedSector);
    EXPECT_EQ(readExtent(&hand.volume, &beforeLast, buffer, sizeof(buffer)), 0u);
    EXPECT_TRUE(hand.device->reads.empty());
    // The last addressable sector still maps.
    EXPECT_EQ(mapOne(&hand.volume, 0, 0xFFFFFFFC), 0xFFFFFFFEu);
}

TEST(Mapping, ShortFormIsRewrittenToTheDefaultPartition) {
    HandVolume hand(1024);
    hand.maps[2].mapType = 1;
    hand.volume.partitions[1] = {5000, 9, UINT32_MAX};
    hand.maps[2].descriptor = &hand.volume.partitions[1];
    hand.volume.defaultPartition = 2;
    hand.chooseMappings();
    // A short descriptor of block 7, decoded as the entries' descriptors are.
    uint8_t descriptor[kShortAdSize] = {0x00, 0x08, 0, 0, 7, 0, 0, 0};
    DescriptorArea area = {kAdShort, 0, kShortAdSize, 1, 0, 0};
    ExtentRef extent = decodeAllocationDescriptor(ByteView(descriptor, sizeof(descriptor)), area, 0,
                                                  hand.volume.defaultPartition, 0);
    EXPECT_EQ(mapBlock(&hand.volume, &extent), 5007u);
    EXPECT_EQ(extent.kind, kExtentLong);
    EXPECT_EQ(extent.partition, 2);
    ExtentRef embedded = {kExtentEmbedded, 176, 4321, 10};
    EXPECT_EQ(mapBlock(&hand.volume, &embedded), 4321u);
}

TEST(Mapping, SparableAndUnrecognisedMapsMapNothing) {
    HandVolume hand(1024);
    hand.maps[1].mapType = 2;
    hand.maps[1].kind = PartitionKind::Sparable;
    hand.maps[2].mapType = 2;
    hand.maps[2].kind = PartitionKind::Unrecognised;
    hand.chooseMappings();
    for (uint32_t block : {0u, 1u, 1000u}) {
        EXPECT_EQ(mapOne(&hand.volume, 1, block), kUnmappedSector);
        EXPECT_EQ(mapOne(&hand.volume, 2, block), kUnmappedSector);
    }
}

// A metadata file entry at partition block `location` whose short descriptors are `ads`.
Bytes metadataImage(uint32_t start, uint32_t location, const Bytes& ads, uint32_t sectors) {
    Image image;
    for (uint32_t s = 0; s < sectors; ++s) {
        image.at(s)[0] = uint8_t(s);
        image.at(s)[1] = uint8_t(s >> 8);
    }
    EntrySpec fields;
    fields.area = ads;
    writeFileEntry(image.at(start + location), fields);
    return image.bytes;
}

TEST(Mapping, MetadataFileInOneExtentIsMappedAndCached) {
    Bytes bytes = metadataImage(1024, 20, shortAd(64 * 2048, 100), 1200);
    HandVolume hand(1024, bytes);
    PartitionMap& map = hand.maps[1];
    map.mapType = 2;
    map.kind = PartitionKind::Metadata;
    map.metadataFileLocation = 20;
    hand.chooseMappings();
    uint8_t work[2048];
    ASSERT_TRUE(setupMetadataPartition(&hand.volume, &map, work));
    ASSERT_EQ(map.runCount, 1u);
    EXPECT_EQ(map.runs[0].start, 100u);
    EXPECT_EQ(map.runs[0].blockCount, 64u);
    EXPECT_EQ(mapOne(&hand.volume, 1, 10), 1134u);
    EXPECT_EQ(mapOne(&hand.volume, 1, 64), kUnmappedSector);
    ASSERT_NE(hand.volume.metadataCache, nullptr);
    EXPECT_EQ(hand.volume.cacheFirstSector, 1124u);
    EXPECT_EQ(hand.volume.cacheLastSector, 1187u);

    // Inside the cache: copied without a command. Straddling its end: read whole from the image.
    hand.device->reads.clear();
    std::vector<uint8_t> buffer(4 * 2048);
    hand.volume.metadataCache[(1130 - 1124) * 2048] = 0xEE;  // tells a cached copy from the image
    ASSERT_EQ(readBlocks(&hand.volume, 1130, 2, buffer.data()), 2u);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_TRUE(hand.device->reads.empty());
    ASSERT_EQ(readBlocks(&hand.volume, 1186, 3, buffer.data()), 3u);
    ASSERT_EQ(hand.device->reads.size(), 1u);
    EXPECT_EQ(hand.device->reads[0].sector, 1186u);
    EXPECT_EQ(hand.device->reads[0].count, 3u);
    EXPECT_EQ(buffer[2 * 2048], uint8_t(1188));
}

TEST(Mapping, MetadataFileInTwoExtentsIsMappedButNotCached) {
    Bytes bytes = metadataImage(1024, 20, cat({shortAd(32 * 2048, 100), shortAd(32 * 2048, 300)}), 1400);
    HandVolume hand(1024, bytes);
    PartitionMap& map = hand.maps[1];
    map.mapType = 2;
    map.kind = PartitionKind::Metadata;
    map.metadataFileLocation = 20;
    hand.chooseMappings();
    uint8_t work[2048];
    ASSERT_TRUE(setupMetadataPartition(&hand.volume, &map, work));
    EXPECT_EQ(map.runCount, 2u);
    EXPECT_EQ(mapOne(&hand.volume, 1, 31), 1024u + 131);
    EXPECT_EQ(mapOne(&hand.volume, 1, 40), 1024u + 308);
    EXPECT_EQ(mapOne(&hand.volume, 1, 64), kUnmappedSector);
    EXPECT_EQ(hand.volume.metadataCache, nullptr);
}

TEST(Mapping, MetadataFileReachingPastTheImageOrLargerThanTheBoundIsReadWithoutACopy) {
    const struct {
        const char* what;
        uint32_t sectors;  // of the device
        uint32_t length;   // of the metadata file's one extent
    } cases[] = {
        // A forged extent of half a million sectors on a tiny image: nothing is allocated for it.
        {"past the image", 60, 0x3FFFF800},
        {"above the bound", 2 * kMaxMetadataCacheSectors, (kMaxMetadataCacheSectors + 1) * 2048},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice* device = new FakeDevice(c.sectors);
        EntrySpec fields;
        fields.area = shortAd(c.length, 5);
        uint8_t entry[2048];
        writeFileEntry(entry, fields);
        device->lay(40 + 2, entry, sizeof(entry));
        HandVolume hand(40, device);
        PartitionMap& map = hand.maps[1];
        map.mapType = 2;
        map.kind = PartitionKind::Metadata;
        map.metadataFileLocation = 2;
        hand.chooseMappings();
        uint8_t work[2048];
        ASSERT_TRUE(setupMetadataPartition(&hand.volume, &map, work));
        EXPECT_EQ(hand.volume.metadataCache, nullptr);
        // The blocks still map, and are read from the image.
        EXPECT_EQ(mapOne(&hand.volume, 1, 3), 40u + 5 + 3);
    }
}

TEST(Mapping, SecondMetadataMapReplacesTheCache) {
    Bytes bytes = metadataImage(100, 1, shortAd(4 * 2048, 10), 200);
    EntrySpec fields;
    fields.area = shortAd(2 * 2048, 50);
    writeFileEntry(&bytes[(100 + 2) * 2048], fields);
    HandVolume hand(100, bytes);
    uint8_t work[2048];
    hand.maps[1] = {2, PartitionKind::Metadata, 0, &hand.volume.partitions[0], 1, 0, nullptr, nullptr, nullptr};
    hand.maps[2] = {2, PartitionKind::Metadata, 0, &hand.volume.partitions[0], 2, 0, nullptr, nullptr, nullptr};
    ASSERT_TRUE(setupMetadataPartition(&hand.volume, &hand.maps[1], work));
    EXPECT_EQ(hand.volume.cacheFirstSector, 110u);
    // The sanitizer build reports the first copy as a leak if it is not released here.
    ASSERT_TRUE(setupMetadataPartition(&hand.volume, &hand.maps[2], work));
    EXPECT_EQ(hand.volume.cacheFirstSector, 150u);
    EXPECT_EQ(hand.volume.cacheLastSector, 151u);
}

// An image whose last sector is a VAT file entry with the table embedded in it.
Bytes embeddedVatImage(const std::vector<uint32_t>& entries, uint32_t sectors, uint64_t informationLength) {
    Image image;
    Bytes table(152, 0);
    put16(&table[0], 152);
    for (uint32_t e : entries) {
        uint8_t b[4];
        put32(b, e);
        table.insert(table.end(), b, b + 4);
    }
    EntrySpec fields;
    fields.adType = 3;
    fields.area = table;
    fields.informationLength = informationLength != 0 ? informationLength : table.size();
    writeFileEntry(image.at(sectors - 1), fields);
    return image.bytes;
}

TEST(Mapping, VirtualBlocksMapThroughTheVat) {
    // The last entry, all ones, marks a block that is not used.
    std::vector<uint32_t> entries = {10, 11, 12, 13, 14, 15, 16, 500, 17, 0xFFFFFFFF};
    HandVolume hand(0, embeddedVatImage(entries, 100, 0));
    uint32_t last = 0;
    ASSERT_TRUE(readLastSector(hand.volume.image, &last));
    EXPECT_EQ(last, 99u);
    PartitionMap& map = hand.maps[1];
    map.mapType = 2;
    map.kind = PartitionKind::Virtual;
    hand.chooseMappings();
    uint8_t work[2048];
    ASSERT_TRUE(setupVirtualPartition(&hand.volume, &map, work));
    EXPECT_EQ(map.runCount, entries.size());
    EXPECT_EQ(mapOne(&hand.volume, 1, 7), 500u);
    EXPECT_EQ(mapOne(&hand.volume, 1, 8), 17u);
    EXPECT_EQ(mapOne(&hand.volume, 1, 9), kUnmappedSector);
    EXPECT_EQ(mapOne(&hand.volume, 1, 10), kUnmappedSector);
    // Behind a partition start, the unused block stays unmapped instead of wrapping to the sector before it.
    hand.volume.partitions[0].start = 5;
    EXPECT_EQ(mapOne(&hand.volume, 1, 8), 22u);
    EXPECT_EQ(mapOne(&hand.volume, 1, 9), kUnmappedSector);
}

TEST(Mapping, VatEntriesComeOnlyFromTheBytesRead) {
    // The information length claims 1000 entries; the entry holds 3.
    HandVolume hand(0, embeddedVatImage({7, 8, 9}, 40, 152 + 4000));
    PartitionMap& map = hand.maps[1];
    map.mapType = 2;
    map.kind = PartitionKind::Virtual;
    hand.chooseMappings();
    uint8_t work[2048];
    ASSERT_TRUE(setupVirtualPartition(&hand.volume, &map, work));
    EXPECT_EQ(map.runCount, 3u);
    EXPECT_EQ(mapOne(&hand.volume, 1, 2), 9u);
    EXPECT_EQ(mapOne(&hand.volume, 1, 3), kUnmappedSector);
}

TEST(Mapping, VatWhoseLastSectorIsNoFileEntryIsRefused) {
    Image image;
    image.at(39)[0] = 8;
    HandVolume hand(0, image.bytes);
    PartitionMap& map = hand.maps[1];
    map.mapType = 2;
    map.kind = PartitionKind::Virtual;
    uint8_t work[2048];
    EXPECT_FALSE(setupVirtualPartition(&hand.volume, &map, work));
}

TEST(Mapping, VatMapsNoMoreBlocksThanItsPartitionHasInTheImage) {
    const std::vector<uint32_t> entries = {10, 11, 12, 13, 14, 15, 16, 17, 18};
    const struct {
        uint32_t start;
        uint32_t length;
        uint32_t kept;
    } cases[] = {
        {0, UINT32_MAX, 9},
        {0, 4, 4},    // the partition descriptor's length
        {95, 100, 5},  // the blocks of the partition that lie in the image of 100 sectors
        {0, 0, 0},
    };
    for (const auto& c : cases) {
        HandVolume hand(c.start, embeddedVatImage(entries, 100, 0));
        hand.volume.partitions[0].length = c.length;
        PartitionMap& map = hand.maps[1];
        map.mapType = 2;
        map.kind = PartitionKind::Virtual;
        hand.chooseMappings();
        uint8_t work[2048];
        ASSERT_TRUE(setupVirtualPartition(&hand.volume, &map, work));
        EXPECT_EQ(map.runCount, c.kept) << c.start << " " << c.length;
        EXPECT_EQ(mapOne(&hand.volume, 1, c.kept), kUnmappedSector);
    }
}

TEST(Mapping, GigabyteVatIsReadOnlyAsFarAsItsEntriesCanGo) {
    // A VAT extent of 1 GiB on a sparse image of 4 GiB, over a partition of 1,000 blocks: only the header
    // and 1,000 entries are read, once, and every virtual map of the volume shares them.
    const uint32_t last = (4u << 20) / 2 - 1;
    FakeDevice* device = new FakeDevice(last + 1);
    Bytes table(2048, 0);
    put16(&table[0], 152);
    put32(&table[152], 77);
    device->lay(1000, table.data(), table.size());
    EntrySpec fields;
    fields.adType = 1;
    fields.area = longAd(0x3FFFF800, 1000, 0);
    fields.informationLength = 0x3FFFF800;
    uint8_t entry[2048];
    writeFileEntry(entry, fields);
    device->lay(last, entry, sizeof(entry));
    HandVolume hand(0, device);
    hand.volume.partitions[0].length = 1000;
    hand.maps[0].mapType = 1;
    for (PartitionMap* map : {&hand.maps[1], &hand.maps[2]}) {
        map->mapType = 2;
        map->kind = PartitionKind::Virtual;
    }
    hand.chooseMappings();
    uint8_t work[2048];
    ASSERT_TRUE(setupVirtualPartition(&hand.volume, &hand.maps[1], work));
    ASSERT_TRUE(setupVirtualPartition(&hand.volume, &hand.maps[2], work));
    EXPECT_EQ(hand.maps[1].runCount, 1000u);
    EXPECT_EQ(hand.maps[2].vat, hand.maps[1].vat);
    EXPECT_EQ(mapOne(&hand.volume, 2, 0), 77u);
    uint64_t sectorsRead = 0;
    for (const ReadCommand& r : device->reads) {
        sectorsRead += r.sector >= 1000 && r.sector < last ? r.count : 0;
    }
    EXPECT_EQ(sectorsRead, (0xFFFFu + 4 * 1000 + 2047) / 2048);
}

TEST(Mapping, VatOfMoreThan65535EntriesKeepsEveryEntry) {
    // 140,000 entries need more than one arena block of table as well as more than 16 bits of count. The
    // blocks they name lie in a partition, and an image, large enough for them.
    const uint32_t count = 140000;
    const uint32_t tableBlock = 10;
    Bytes table(152 + size_t(count) * 4, 0);
    put16(&table[0], 152);
    for (uint32_t i = 0; i < count; ++i) {
        put32(&table[152 + size_t(i) * 4], 1000000 + i);
    }
    const uint32_t last = 1200000;
    FakeDevice* device = new FakeDevice(last + 1);
    for (size_t at = 0; at < table.size(); at += 2048) {
        device->lay(uint32_t(tableBlock + at / 2048), &table[at], std::min<size_t>(2048, table.size() - at));
    }
    EntrySpec fields;
    fields.adType = 1;
    fields.area = longAd(uint32_t(table.size()), tableBlock, 0);
    fields.informationLength = table.size();
    uint8_t entry[2048];
    writeFileEntry(entry, fields);
    device->lay(last, entry, sizeof(entry));
    HandVolume hand(0, device);
    hand.maps[0].mapType = 1;
    PartitionMap& map = hand.maps[1];
    map.mapType = 2;
    map.kind = PartitionKind::Virtual;
    hand.chooseMappings();
    uint8_t work[2048];
    ASSERT_TRUE(setupVirtualPartition(&hand.volume, &map, work));
    EXPECT_EQ(map.runCount, count);
    EXPECT_EQ(mapOne(&hand.volume, 1, 70000), 1070000u);
    EXPECT_EQ(mapOne(&hand.volume, 1, count - 1), 1000000u + count - 1);
}

TEST(SectorPart, CopiesAtMostToTheSectorEnd) {
    Image image;
    for (uint32_t i = 0; i < 2048; ++i) {
        image.at(3)[i] = uint8_t(i);
    }
    UdfVolume volume;
    FakeDevice* device = attach(volume, image.bytes);
    uint8_t out[200];
    std::memset(out, 0xCC, sizeof(out));
    EXPECT_EQ(readSectorPart(&volume, 3, 2000, 100, out), 48u);
    EXPECT_EQ(out[0], uint8_t(2000));
    EXPECT_EQ(out[47], uint8_t(2047));
    EXPECT_EQ(out[48], 0xCC);
    EXPECT_EQ(readSectorPart(&volume, 3, 10, 5, out), 5u);
    EXPECT_EQ(out[0], 10);
    device->reads.clear();
    // At or above the sector's end nothing is read at all.
    EXPECT_EQ(readSectorPart(&volume, 3, 2048, 10, out), 0u);
    EXPECT_EQ(readSectorPart(&volume, 3, 2049, 10, out), 0u);
    EXPECT_EQ(readSectorPart(&volume, 3, 0xFFFFFFFF, 10, out), 0u);
    EXPECT_TRUE(device->reads.empty());
    EXPECT_EQ(readSectorPart(&volume, 9, 0, 10, out), 0u);  // past the image
}

}  // namespace
