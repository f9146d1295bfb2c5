// Each partition kind mounting or being refused, and the descriptor-sequence cases that must not mislead the
// mount.
#include <gtest/gtest.h>

#include "image_builder.h"
#include "udf/file_read.h"
#include "udf/sector_io.h"
#include "udf/volume_descriptors.h"

namespace {

using namespace udftest;

// A disc of root/AACS/Content000.cer and root/clip.m2ts.
struct SmallDisc {
    Bytes content = pattern(5000, 3);
    Bytes clip = pattern(3 * 2048, 9);
    Bytes bytes;

    explicit SmallDisc(Layout layout, const std::function<void(DiscBuilder&)>& tweak = {}) {
        DiscBuilder b(layout);
        uint32_t cer = b.file(content);
        uint32_t aacs = b.directory({b.child("Content000.cer", cer)});
        uint32_t m2ts = b.file(clip, true);
        uint32_t root = b.directory({b.child("AACS", aacs, true), b.child("clip.m2ts", m2ts)});
        if (tweak) {
            tweak(b);
        }
        bytes = b.finish(root);
    }
};

void expectReadable(UdfVolume* volume, const SmallDisc& disc) {
    DirectoryNode* cer = findNode(volume, nullptr, "AACS/Content000.cer");
    ASSERT_NE(cer, nullptr);
    uint32_t size = 0;
    uint8_t* data = readWholeFile(volume, cer, &size);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(size, disc.content.size());
    EXPECT_EQ(std::memcmp(data, disc.content.data(), size), 0);
    heapFree(data);
    DirectoryNode* clip = findNode(volume, nullptr, "clip.m2ts");
    ASSERT_NE(clip, nullptr);
    data = readWholeFile(volume, clip, &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::memcmp(data, disc.clip.data(), disc.clip.size()), 0);
    heapFree(data);
}

TEST(PartitionKinds, EveryReadableLayoutMountsAndReadsFiles) {
    const struct {
        Layout layout;
        PartitionKind secondKind;
        bool cached;
    } cases[] = {
        {Layout::Physical, PartitionKind::Physical, false},
        {Layout::Metadata, PartitionKind::Metadata, true},
        {Layout::MetadataTwoExtents, PartitionKind::Metadata, false},
        {Layout::Virtual, PartitionKind::Virtual, false},
        {Layout::VirtualLongVat, PartitionKind::Virtual, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.layout));
        SmallDisc disc(c.layout);
        bool mounted = false;
        auto volume = mountBytes(disc.bytes, &mounted);
        ASSERT_TRUE(mounted);
        EXPECT_EQ(volume->maps[volume->mapCount - 1].kind, c.secondKind);
        EXPECT_EQ(volume->metadataCache != nullptr, c.cached);
        EXPECT_EQ(childNames(volume->root), "AACS,clip.m2ts");
        expectReadable(volume.get(), disc);
    }
}

TEST(PartitionKinds, VatGivenByAShortDescriptorIsReadFromThePhysicalPartition) {
    // Such a volume's default partition is the virtual one; the VAT must not be looked up through it.
    SmallDisc disc(Layout::Virtual);
    bool mounted = false;
    FakeDevice* device = nullptr;
    auto volume = mountBytes(disc.bytes, &mounted, &device);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(volume->defaultPartition, 1);
    for (const ReadCommand& read : device->reads) {
        EXPECT_NE(read.sector, 0u) << "something was read from sector 0";
    }
}

TEST(PartitionKinds, EditionTwoWithTwoMapsIsRefused) {
    for (Layout layout : {Layout::Metadata, Layout::Virtual}) {
        SmallDisc disc(layout);
        std::memcpy(&disc.bytes[17 * 2048 + 1], "NSR02", 5);
        bool mounted = true;
        auto volume = mountBytes(disc.bytes, &mounted);
        EXPECT_FALSE(mounted);
    }
}

// Rewrites the partition maps of a built disc's logical volume descriptor.
void setMaps(Bytes& bytes, const std::vector<Bytes>& maps, int32_t countOverride = -1) {
    uint8_t* lvd = &bytes[33 * 2048];
    std::memset(lvd + 440, 0, 2048 - 440);
    put32(lvd + 268, countOverride >= 0 ? uint32_t(countOverride) : uint32_t(maps.size()));
    size_t offset = 440;
    for (const Bytes& m : maps) {
        std::memcpy(lvd + offset, m.data(), m.size());
        offset += m.size();
    }
}

TEST(PartitionKinds, TypeTwoMapsOverAnythingButATypeOneMapAreRefused) {
    const struct {
        const char* what;
        std::vector<Bytes> maps;
        bool mounts;
    } cases[] = {
        {"sparable alone names itself", {type2Map("*UDF Sparable Partition", 0)}, false},
        {"sparable beside a type 1 map", {type1Map(0), type2Map("*UDF Sparable Partition", 0)}, true},
        {"index past the table", {type1Map(0), type2Map("*UDF Virtual Partition", 5)}, false},
        {"index 0xFFFF", {type1Map(0), type2Map("*UDF Metadata Partition", 0xFFFF, 50)}, false},
        {"names a type 2 map", {type1Map(0), type2Map("*UDF Virtual Partition", 1)}, false},
        {"unknown identifier", {type1Map(0), type2Map("*UDF Other Partition", 0)}, true},
    };
    for (const auto& c : cases) {
        SmallDisc disc(Layout::Physical);
        setMaps(disc.bytes, c.maps);
        std::memcpy(&disc.bytes[17 * 2048 + 1], "NSR03", 5);
        bool mounted = !c.mounts;
        auto volume = mountBytes(disc.bytes, &mounted);
        EXPECT_EQ(mounted, c.mounts) << c.what;
    }
}

TEST(PartitionKinds, ForgedMapTablesAreBounded) {
    {
        // More maps claimed than a sector can hold.
        SmallDisc disc(Layout::Physical);
        setMaps(disc.bytes, {type1Map(0)}, 0x7FFFFFFF);
        bool mounted = true;
        auto volume = mountBytes(disc.bytes, &mounted);
        EXPECT_FALSE(mounted);
    }
    {
        // A map of length 0 after the first: the walk stops there instead of reading it forever.
        SmallDisc disc(Layout::Physical);
        Bytes zero = type1Map(0);
        zero[1] = 0;
        setMaps(disc.bytes, {type1Map(0), zero}, 200);
        std::memcpy(&disc.bytes[17 * 2048 + 1], "NSR03", 5);
        bool mounted = false;
        auto volume = mountBytes(disc.bytes, &mounted);
        EXPECT_TRUE(mounted);
        EXPECT_EQ(volume->mapCount, 200u);
        EXPECT_EQ(volume->maps[1].mapType, 0);
        EXPECT_EQ(volume->maps[1].kind, PartitionKind::Unrecognised);
    }
}

TEST(DescriptorSequence, SequenceWithoutLogicalVolumeIsRefused) {
    SmallDisc disc(Layout::Physical);
    std::memset(&disc.bytes[33 * 2048], 0, 2048);
    put16(&disc.bytes[33 * 2048], 7);  // an unallocated space descriptor in its place
    bool mounted = true;
    auto volume = mountBytes(disc.bytes, &mounted);
    EXPECT_FALSE(mounted);
}

TEST(DescriptorSequence, TerminatorBeforeTheLogicalVolumeEndsTheWalk) {
    SmallDisc disc(Layout::Physical);
    std::memcpy(&disc.bytes[35 * 2048], &disc.bytes[33 * 2048], 2048);
    std::memset(&disc.bytes[33 * 2048], 0, 2048);
    put16(&disc.bytes[33 * 2048], 8);
    bool mounted = true;
    auto volume = mountBytes(disc.bytes, &mounted);
    EXPECT_FALSE(mounted);
}

TEST(DescriptorSequence, TwentySectorSequenceIsReadSixteenAtATime) {
    SmallDisc disc(Layout::Physical);
    // Sequence of 20 sectors at 40: passed-over descriptors, the partition at 50, the logical volume at 57.
    Image image;
    image.bytes = disc.bytes;
    for (uint32_t s = 40; s < 60; ++s) {
        std::memset(image.at(s), 0, 2048);
        put16(image.at(s), s % 2 == 0 ? 1 : 4);
    }
    std::memcpy(image.at(50), &disc.bytes[32 * 2048], 2048);
    std::memcpy(image.at(57), &disc.bytes[33 * 2048], 2048);
    writeAnchor(image, 40, 20);
    bool mounted = false;
    FakeDevice* device = nullptr;
    auto volume = mountBytes(image.bytes, &mounted, &device);
    EXPECT_TRUE(mounted);
    std::vector<std::pair<uint32_t, uint32_t>> sequenceReads;
    for (const ReadCommand& r : device->reads) {
        if (r.sector >= 40 && r.sector < 60) {
            sequenceReads.push_back({r.sector, r.count});
        }
    }
    EXPECT_EQ(sequenceReads, (std::vector<std::pair<uint32_t, uint32_t>>{{40, 16}, {56, 16}}));
}

// Arena blocks the volume holds: one per megabyte it took.
uint32_t arenaBlocks(const UdfVolume& volume) {
    uint32_t blocks = 1;
    void* block = nullptr;
    std::memcpy(&block, volume.arena->arena->firstBlock, sizeof(block));
    for (; block != nullptr; ++blocks) {
        std::memcpy(&block, block, sizeof(block));
    }
    return blocks;
}

TEST(DescriptorSequence, ThousandsOfLogicalVolumesShareOneTableAndTheWalkIsBounded) {
    // 2,000 logical volume descriptors, each claiming the most maps a sector holds: a table apiece would
    // take 64 MiB. Those past the walk's bound are forged, so walking to them would refuse the volume.
    SmallDisc disc(Layout::Physical);
    Image image;
    image.bytes = disc.bytes;
    const uint32_t first = 400;
    const uint32_t count = 2000;
    uint8_t* partition = image.at(first + count);
    std::memcpy(partition, &disc.bytes[32 * 2048], 2048);
    std::memcpy(image.at(first), partition, 2048);
    Bytes lvd(disc.bytes.begin() + 33 * 2048, disc.bytes.begin() + 34 * 2048);
    put32(&lvd[268], kMaxPartitionMaps);
    for (uint32_t s = first + 1; s < first + count; ++s) {
        std::memcpy(image.at(s), lvd.data(), 2048);
        if (s - first >= kMaxSequenceSectors) {
            put32(image.at(s) + 268, 0xFFFFFFFF);
        }
    }
    writeAnchor(image, first, count);
    bool mounted = false;
    FakeDevice* device = nullptr;
    auto volume = mountBytes(image.bytes, &mounted, &device);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(volume->mapCount, kMaxPartitionMaps);
    EXPECT_NE(findNode(volume.get(), nullptr, "AACS/Content000.cer"), nullptr);
    uint32_t walked = 0;
    for (const ReadCommand& r : device->reads) {
        walked += r.sector >= first && r.sector < first + count ? r.count : 0;
    }
    EXPECT_EQ(walked, kMaxSequenceSectors);
    // One table of 32 KiB for every descriptor: the whole mount fits its first arena block.
    EXPECT_EQ(arenaBlocks(*volume), 1u);
}

TEST(DescriptorSequence, PartlyReadSequenceIsWalkedOnlyOverWhatArrived) {
    // Sector 34 does not arrive: the 16-sector read gives two, the walk stops there and the mount goes on.
    for (auto fault : {FakeDevice::Fault::Fail, FakeDevice::Fault::Short}) {
        SmallDisc disc(Layout::Physical);
        std::memset(&disc.bytes[34 * 2048], 0xFF, 2048);  // no terminator: only the fault ends the walk
        FakeDevice* device = new FakeDevice(disc.bytes);
        device->failFrom(34, fault, 35);
        UdfVolume volume;
        ASSERT_TRUE(volume.openDevice(device));
        EXPECT_NE(findNode(&volume, nullptr, "AACS/Content000.cer"), nullptr);
    }
    // The logical volume does not arrive. The work buffer still holds sector 17 from the recognition,
    // here made to look like a logical volume descriptor: a walk past the sectors read would find it.
    SmallDisc disc(Layout::Physical);
    std::memcpy(&disc.bytes[16 * 2048 + 1], "NSR02", 5);
    std::memcpy(&disc.bytes[17 * 2048], &disc.bytes[33 * 2048], 2048);
    FakeDevice* device = new FakeDevice(disc.bytes);
    device->failFrom(33, FakeDevice::Fault::Short, 34);
    UdfVolume volume;
    EXPECT_FALSE(volume.openDevice(device));
}

TEST(DescriptorSequence, ThirdPartitionDescriptorIsIgnored) {
    SmallDisc disc(Layout::Physical);
    Image image;
    image.bytes = disc.bytes;
    // Partition 0 at the real start, partition 8, then a third that would move partition 0 elsewhere.
    writePartition(image, 40, 0, DiscBuilder::kPartitionStart);
    writePartition(image, 41, 8, 2);
    writePartition(image, 42, 0, 5);
    std::memcpy(image.at(43), &disc.bytes[33 * 2048], 2048);
    writeTag(image.at(44), 8);
    writeAnchor(image, 40, 5);
    bool mounted = false;
    auto volume = mountBytes(image.bytes, &mounted);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(volume->partitions[0].start, DiscBuilder::kPartitionStart);
    EXPECT_EQ(volume->partitions[1].number, 8);
    EXPECT_NE(findNode(volume.get(), nullptr, "AACS/Content000.cer"), nullptr);
}

TEST(DescriptorSequence, LastMatchingPartitionDescriptorWins) {
    SmallDisc disc(Layout::Physical);
    Image image;
    image.bytes = disc.bytes;
    writePartition(image, 40, 0, 5);
    writePartition(image, 41, 0, DiscBuilder::kPartitionStart);
    std::memcpy(image.at(42), &disc.bytes[33 * 2048], 2048);
    writeAnchor(image, 40, 3);
    bool mounted = false;
    auto volume = mountBytes(image.bytes, &mounted);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(volume->maps[0].descriptor, &volume->partitions[1]);
    EXPECT_NE(findNode(volume.get(), nullptr, "AACS/Content000.cer"), nullptr);
}

TEST(RootEntry, UnreadableOrExtendedRootGivesAnEmptyMountedVolume) {
    // A root entry past the image, or a block that is no file entry (a ripper's zeros): an empty root, named
    // as damage of "/".
    const uint32_t past = DiscBuilder::kPartitionStart + 90000;
    {
        SmallDisc disc(Layout::Physical, [](DiscBuilder& b) {
            // The file set points the root at a block past the image.
            b.image.at(400);
        });
        uint8_t* fsd = &disc.bytes[(DiscBuilder::kPartitionStart + 0) * 2048];
        put32(fsd + 404, 90000);
        bool mounted = false;
        auto volume = mountBytes(disc.bytes, &mounted);
        EXPECT_TRUE(mounted);
        EXPECT_EQ(volume->root->firstChild, nullptr);
        EXPECT_EQ(findNode(volume.get(), nullptr, "AACS"), nullptr);
        ASSERT_EQ(volumeDamageCount(volume.get()), 1u);
        EXPECT_EQ(volumeDamageAt(volume.get(), 0)->kind, VolumeDamageKind::EntryUnreadable);
        EXPECT_EQ(volumeDamageAt(volume.get(), 0)->sector, past);
        EXPECT_STREQ(volumeDamageAt(volume.get(), 0)->path, "/");
    }
    for (uint8_t firstByte : {0, 1}) {
        DiscBuilder b(Layout::Physical);
        uint32_t root = b.allocMeta(1);
        b.meta(root)[0] = firstByte;
        bool mounted = false;
        auto volume = mountBytes(b.finish(root), &mounted);
        EXPECT_TRUE(mounted);
        EXPECT_EQ(volume->root->firstChild, nullptr);
        ASSERT_EQ(volumeDamageCount(volume.get()), 1u);
        EXPECT_EQ(volumeDamageAt(volume.get(), 0)->sector, b.metaSector(root));
        EXPECT_STREQ(volumeDamageAt(volume.get(), 0)->path, "/");
    }
    {
        // Extended descriptors are a form the reader does not take, not damage.
        DiscBuilder b(Layout::Physical);
        EntrySpec fields;
        fields.adType = 2;
        fields.area = Bytes(20, 0x11);
        uint32_t root = b.entry(fields);
        bool mounted = false;
        auto volume = mountBytes(b.finish(root), &mounted);
        EXPECT_TRUE(mounted);
        EXPECT_EQ(volume->root->firstChild, nullptr);
        EXPECT_EQ(volumeDamageCount(volume.get()), 0u);
    }
    {
        DiscBuilder b(Layout::Physical);
        EntrySpec fields;
        fields.adType = 5;
        uint32_t root = b.entry(fields);
        bool mounted = true;
        auto volume = mountBytes(b.finish(root), &mounted);
        EXPECT_FALSE(mounted);
    }
}

TEST(RootEntry, EmbeddedRootDirectoryPointsIntoItsOwnSector) {
    DiscBuilder b(Layout::Physical);
    uint32_t file = b.file(pattern(10, 1));
    Bytes fids = cat({fid(kFidDirectory | kFidParent, {}, b.icb(0)), b.child("a.txt", file)});
    EntrySpec fields;
    fields.adType = 3;
    fields.eaLength = 24;
    fields.area = fids;
    fields.informationLength = fids.size();
    uint32_t root = b.entry(fields);
    bool mounted = false;
    auto volume = mountBytes(b.finish(root), &mounted);
    ASSERT_TRUE(mounted);
    EXPECT_EQ(volume->root->dirExtents[0].kind, kExtentEmbedded);
    EXPECT_EQ(volume->root->dirExtents[0].partition, 176 + 24);
    EXPECT_EQ(volume->root->dirExtents[0].block, b.metaSector(root));
    EXPECT_EQ(volume->root->dataLocation, b.metaSector(root));
    EXPECT_EQ(childNames(volume->root), "a.txt");
}

TEST(Mount, AllocationFailureOfTheDeviceOrArenaFailsCleanly) {
    UdfVolume volume;
    EXPECT_FALSE(volume.openDevice(nullptr));
    UdfVolume twice;
    SmallDisc disc(Layout::Physical);
    ASSERT_TRUE(twice.openDevice(new FakeDevice(disc.bytes)));
    // A second device is refused and released (the sanitizer build would report it leaked).
    EXPECT_FALSE(twice.openDevice(new FakeDevice(disc.bytes)));
}

}  // namespace
