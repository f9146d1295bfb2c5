// Mounts over a device that loses chosen sectors: a directory that cannot be read whole keeps what arrived and
// is named as damage, while a metadata file entry, a VAT or a file set descriptor that cannot be read fails
// the mount.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "image_builder.h"
#include "udf/file_read.h"

namespace {

using namespace udftest;

// root: AACS/{Content000.cer}, BDMV/STREAM/{00001.m2ts}, with the image sectors of the structures a fault
// is aimed at.
struct FaultDisc {
    Bytes bytes;
    std::map<std::string, uint32_t> sectors;

    explicit FaultDisc(Layout layout) {
        DiscBuilder b(layout);
        uint32_t cer = b.file(pattern(100, 1));
        uint32_t aacs = b.directory({b.child("Content000.cer", cer)});
        uint32_t clip = b.file(pattern(4 * kSector, 2));
        uint32_t stream = b.directory({b.child("00001.m2ts", clip)});
        uint32_t bdmv = b.directory({b.child("STREAM", stream, true)});
        uint32_t root = b.directory({b.child("AACS", aacs, true), b.child("BDMV", bdmv, true)});
        // A directory's one sector of data is the meta block just before its entry.
        sectors["root data"] = b.metaSector(root - 1);
        sectors["AACS data"] = b.metaSector(aacs - 1);
        sectors["STREAM data"] = b.metaSector(stream - 1);
        sectors["file set"] = b.metaSector(b.fileSetBlock);
        bytes = b.finish(root);
        sectors["metadata entry"] = DiscBuilder::kPartitionStart + DiscBuilder::kMetadataFileEntry;
        sectors["metadata data"] = DiscBuilder::kPartitionStart + DiscBuilder::kMetadataExtentA;
        uint32_t last = uint32_t(bytes.size() / kSector) - 1;
        sectors["VAT entry"] = last;
        // The VAT's entry holds one short descriptor of the table in the physical partition.
        uint32_t vatBlock = 0;
        std::memcpy(&vatBlock, &bytes[size_t(last) * kSector + 176 + 4], 4);
        sectors["VAT data"] = DiscBuilder::kPartitionStart + vatBlock;
    }
};

std::string names(UdfVolume* volume, const char* path) {
    DirectoryNode* node = findNode(volume, nullptr, path);
    return node != nullptr ? childNames(node) : "(missing)";
}

TEST(FaultInjection, UnreadableStructuresAreNamedOrFailTheMount) {
    const struct {
        Layout layout;
        const char* target;
        bool mounts;
        // Children of the root, of AACS and of BDMV/STREAM when it mounts.
        const char* root;
        const char* aacs;
        const char* stream;
        // The one damage record a mounted volume keeps: the directory whose data did not arrive.
        const char* damaged;
    } cases[] = {
        // Directories, read once at mount outside any cache: the one hit is empty and named, the rest whole.
        {Layout::Physical, "root data", true, "", "(missing)", "(missing)", "/"},
        {Layout::Physical, "AACS data", true, "AACS,BDMV", "", "00001.m2ts", "AACS/"},
        {Layout::Virtual, "root data", true, "", "(missing)", "(missing)", "/"},
        {Layout::Virtual, "STREAM data", true, "AACS,BDMV", "Content000.cer", "", "BDMV/STREAM/"},
        {Layout::MetadataTwoExtents, "AACS data", true, "AACS,BDMV", "", "00001.m2ts", "AACS/"},
        // A one-extent metadata file with a sector that does not arrive is not copied; it is read block by
        // block, so only what lay in that sector is lost.
        {Layout::Metadata, "AACS data", true, "AACS,BDMV", "", "00001.m2ts", "AACS/"},
        // Its file entry, or its first block, which holds the file set: there is no root to start from.
        {Layout::Metadata, "metadata entry", false, "", "", "", ""},
        {Layout::Metadata, "metadata data", false, "", "", "", ""},
        // The VAT's entry in the last sector, or its table: no virtual block can be mapped.
        {Layout::Virtual, "VAT entry", false, "", "", "", ""},
        {Layout::Virtual, "VAT data", false, "", "", "", ""},
        // Without its file set there is no root to start from.
        {Layout::Physical, "file set", false, "", "", "", ""},
        {Layout::Virtual, "file set", false, "", "", "", ""},
    };
    for (const auto& c : cases) {
        for (auto fault : {FakeDevice::Fault::Fail, FakeDevice::Fault::Short}) {
            SCOPED_TRACE(std::string(c.target) + " layout " + std::to_string(int(c.layout)) +
                         (fault == FakeDevice::Fault::Fail ? " failing" : " short"));
            FaultDisc disc(c.layout);
            uint32_t sector = disc.sectors.at(c.target);
            // The fault must hit a sector the intact disc reads.
            bool mounted = false;
            FakeDevice* intact = nullptr;
            auto reference = mountBytes(disc.bytes, &mounted, &intact);
            ASSERT_TRUE(mounted);
            EXPECT_EQ(volumeDamageCount(reference.get()), 0u);
            bool touched = false;
            for (const ReadCommand& r : intact->reads) {
                touched = touched || (sector >= r.sector && sector - r.sector < r.count);
            }
            ASSERT_TRUE(touched);

            FakeDevice* device = nullptr;
            std::unique_ptr<UdfVolume> volume(new UdfVolume());
            device = new FakeDevice(disc.bytes);
            device->failFrom(sector, fault, uint64_t(sector) + 1);
            EXPECT_EQ(volume->openDevice(device), c.mounts);
            if (!c.mounts) {
                continue;
            }
            EXPECT_EQ(childNames(volume->root), c.root);
            EXPECT_EQ(names(volume.get(), "AACS"), c.aacs);
            EXPECT_EQ(names(volume.get(), "BDMV/STREAM"), c.stream);
            ASSERT_EQ(volumeDamageCount(volume.get()), 1u);
            const VolumeDamage* damage = volumeDamageAt(volume.get(), 0);
            ASSERT_NE(damage, nullptr);
            EXPECT_EQ(damage->kind, VolumeDamageKind::DirectoryUnreadable);
            EXPECT_EQ(damage->sector, sector);
            EXPECT_STREQ(damage->path, c.damaged);
        }
    }
}

TEST(FaultInjection, DirectoryCutShortKeepsTheEntriesOfTheCommandsThatArrived) {
    // 1,400 entries of 52 bytes after the 40-byte parent entry: 36 sectors, read in commands of 32 and 4.
    DiscBuilder b(Layout::Physical);
    uint32_t clip = b.file(pattern(100, 3));
    std::vector<Bytes> children;
    std::vector<std::string> all;
    for (int i = 1; i <= 1400; ++i) {
        char name[16];
        std::snprintf(name, sizeof(name), "%05d.m2ts", i);
        children.push_back(b.child(name, clip));
        all.push_back(name);
    }
    uint32_t stream = b.directory(children);
    uint32_t dataSectors = uint32_t((40 + 52 * all.size() + kSector - 1) / kSector);
    ASSERT_EQ(dataSectors, 36u);
    uint32_t first = b.metaSector(stream - dataSectors);
    uint32_t root = b.directory({b.child("STREAM", stream, true)});
    Bytes bytes = b.finish(root);
    // Every sector before the one lost is kept, by whichever command it came: the entries wholly inside
    // them are listed, up to the one the lost sector cuts in two.
    const struct {
        uint32_t lostSector;  // within the directory's data
        size_t kept;
    } cases[] = {
        {0, 0},
        {1, (1 * kSector - 40) / 52},
        {33, (33 * kSector - 40) / 52},  // the second command brought one sector before the fault
        {35, (35 * kSector - 40) / 52},
    };
    for (const auto& c : cases) {
        for (auto fault : {FakeDevice::Fault::Fail, FakeDevice::Fault::Short}) {
            SCOPED_TRACE(c.lostSector);
            FakeDevice* device = new FakeDevice(bytes);
            device->failFrom(first + c.lostSector, fault, uint64_t(first) + c.lostSector + 1);
            UdfVolume volume;
            ASSERT_TRUE(volume.openDevice(device));
            DirectoryNode* directory = findNode(&volume, nullptr, "STREAM");
            ASSERT_NE(directory, nullptr);
            size_t count = 0;
            for (DirectoryNode* n = directory->firstChild; n != nullptr; n = n->nextSibling, ++count) {
                ASSERT_LT(count, all.size());
                EXPECT_EQ(n->name, all[count]);
            }
            EXPECT_EQ(count, c.kept);
            ASSERT_EQ(volumeDamageCount(&volume), 1u);
            EXPECT_EQ(volumeDamageAt(&volume, 0)->kind, VolumeDamageKind::DirectoryUnreadable);
            EXPECT_EQ(volumeDamageAt(&volume, 0)->sector, first + c.lostSector);
            EXPECT_STREQ(volumeDamageAt(&volume, 0)->path, "STREAM/");
        }
    }
}

}  // namespace
