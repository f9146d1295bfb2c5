// Reading through the reserves: the anchor at the last sector less 256 and at the last sector, the reserve
// volume descriptor sequence, a VAT found before a padded end, and images whose size cannot be told.
#include <gtest/gtest.h>

#include <filesystem>

#include "image_builder.h"
#include "tests/support/test_support.h"
#include "udf/file_read.h"
#include "udf/partition_setup.h"

namespace {

using namespace udftest;

// root/AACS/Content000.cer and root/clip.m2ts. The main sequence lies at 32 (partition, logical volume,
// terminator); a copy of it at 48 is the reserve the anchor names.
struct ReserveDisc {
    static constexpr uint32_t kMain = 32;
    static constexpr uint32_t kReserve = 48;
    Bytes content = pattern(5000, 3);
    Image image;

    explicit ReserveDisc(Layout layout) {
        DiscBuilder b(layout);
        uint32_t cer = b.file(content);
        uint32_t aacs = b.directory({b.child("Content000.cer", cer)});
        uint32_t clip = b.file(pattern(3 * 2048, 9));
        uint32_t root = b.directory({b.child("AACS", aacs, true), b.child("clip.m2ts", clip)});
        image.bytes = b.finish(root);
        for (uint32_t i = 0; i < 3; ++i) {
            uint8_t* to = image.at(kReserve + i);
            std::memcpy(to, image.at(kMain + i), kSector);
        }
        put32(image.at(256) + 24, 3 * kSector);
        put32(image.at(256) + 28, kReserve);
    }
    // The anchor of sector 256 recorded again at `sector`.
    void copyAnchor(uint32_t sector) {
        uint8_t* to = image.at(sector);  // grows the image first, so the source stays where it is
        std::memcpy(to, image.at(256), kSector);
    }
};

void expectContent(UdfVolume* volume, const ReserveDisc& disc) {
    DirectoryNode* cer = findNode(volume, nullptr, "AACS/Content000.cer");
    ASSERT_NE(cer, nullptr);
    uint32_t size = 0;
    uint8_t* data = readWholeFile(volume, cer, &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Bytes(data, data + size), disc.content);
    heapFree(data);
}

TEST(Reserves, AnchorIsTakenFromTheFirstOfItsThreePlacesThatHoldsOne) {
    // A physical volume padded to 1,000 sectors: the reserve anchors lie at 743 and 999.
    const uint32_t last = 999;
    const struct {
        const char* what;
        std::vector<uint32_t> zeroed;
        uint32_t unreadable;  // 0: none
        bool mounts;
        uint32_t anchor;
    } cases[] = {
        {"intact", {}, 0, true, 256},
        {"256 zeroed", {256}, 0, true, last - 256},
        {"256 unreadable", {}, 256, true, last - 256},
        {"256 and last-256 zeroed", {256, last - 256}, 0, true, last},
        {"no anchor anywhere", {256, last - 256, last}, 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReserveDisc disc(Layout::Physical);
        disc.copyAnchor(last - 256);
        disc.copyAnchor(last);
        for (uint32_t s : c.zeroed) {
            std::memset(disc.image.at(s), 0, kSector);
        }
        FakeDevice* device = new FakeDevice(disc.image.bytes);
        if (c.unreadable != 0) {
            device->failFrom(c.unreadable, FakeDevice::Fault::Fail, c.unreadable + 1);
        }
        UdfVolume volume;
        ASSERT_EQ(volume.openDevice(device), c.mounts);
        if (!c.mounts) {
            continue;
        }
        EXPECT_EQ(volume.notes.anchorSector, c.anchor);
        EXPECT_FALSE(volume.notes.reserveSequence);
        EXPECT_EQ(volume.notes.sequenceSector, ReserveDisc::kMain);
        expectContent(&volume, disc);
    }
    // Sector 256 holding some other descriptor is no anchor either.
    ReserveDisc disc(Layout::Physical);
    disc.copyAnchor(last);
    put16(disc.image.at(256), 1);
    UdfVolume volume;
    ASSERT_TRUE(volume.openDevice(new FakeDevice(disc.image.bytes)));
    EXPECT_EQ(volume.notes.anchorSector, last);
}

TEST(Reserves, AnchorsOfASmallImageAreNotLookedForBelowSector256) {
    // An image of 400 sectors has no place for an anchor at its last sector less 256; only 256 and 399 count.
    ReserveDisc disc(Layout::Physical);
    disc.image.at(399);
    disc.copyAnchor(399);
    std::memset(disc.image.at(256), 0, kSector);
    FakeDevice* device = new FakeDevice(disc.image.bytes);
    UdfVolume volume;
    ASSERT_TRUE(volume.openDevice(device));
    EXPECT_EQ(volume.notes.anchorSector, 399u);
    for (const ReadCommand& read : device->reads) {
        EXPECT_FALSE(read.sector == 143) << "read the place of an anchor that cannot exist";
    }
}

TEST(Reserves, ReserveSequenceIsWalkedWhenTheMainYieldsNoVolumeOrPartition) {
    const struct {
        const char* what;
        std::function<void(Image&)> damage;
        uint32_t faultFrom;  // 0: none
        bool mounts;
        bool reserve;
    } cases[] = {
        {"intact", [](Image&) {}, 0, true, false},
        {"logical volume zeroed", [](Image& i) { std::memset(i.at(33), 0, kSector); }, 0, true, true},
        {"partition zeroed", [](Image& i) { std::memset(i.at(32), 0, kSector); }, 0, true, true},
        {"whole main zeroed",
         [](Image& i) {
             for (uint32_t s = 32; s < 35; ++s) std::memset(i.at(s), 0, kSector);
         },
         0, true, true},
        {"main unreadable", [](Image&) {}, 32, true, true},
        {"logical volume refused", [](Image& i) { put32(i.at(33) + 268, 0xFFFFFFFF); }, 0, true, true},
        {"both zeroed",
         [](Image& i) {
             std::memset(i.at(33), 0, kSector);
             std::memset(i.at(49), 0, kSector);
         },
         0, false, false},
        {"main zeroed, reserve not named",
         [](Image& i) {
             std::memset(i.at(33), 0, kSector);
             put32(i.at(256) + 24, 0);
         },
         0, false, false},
    };
    for (Layout layout : {Layout::Physical, Layout::Metadata, Layout::Virtual}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " layout " + std::to_string(int(layout)));
            ReserveDisc disc(layout);
            c.damage(disc.image);
            FakeDevice* device = new FakeDevice(disc.image.bytes);
            if (c.faultFrom != 0) {
                device->failFrom(c.faultFrom, FakeDevice::Fault::Fail, c.faultFrom + 16);
            }
            UdfVolume volume;
            ASSERT_EQ(volume.openDevice(device), c.mounts);
            if (!c.mounts) {
                continue;
            }
            EXPECT_EQ(volume.notes.reserveSequence, c.reserve);
            EXPECT_EQ(volume.notes.sequenceSector, c.reserve ? ReserveDisc::kReserve : ReserveDisc::kMain);
            EXPECT_EQ(volume.notes.anchorSector, 256u);
            expectContent(&volume, disc);
        }
    }
}

TEST(Reserves, VatIsFoundBeforeAPaddedEndWithinItsBound) {
    const struct {
        uint32_t padding;  // blank sectors after the VAT's entry
        bool otherEntry;   // a file's entry among them, nearer the end
        bool mounts;
    } cases[] = {
        {0, false, true},  {1, false, true}, {32, false, true}, {kVatSearchSectors, false, true},
        {kVatSearchSectors + 1, false, false}, {10, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.padding) + (c.otherEntry ? " with a file's entry" : ""));
        ReserveDisc disc(Layout::Virtual);
        uint32_t vatEntry = disc.image.sectors() - 1;
        disc.image.at(vatEntry + c.padding);
        if (c.otherEntry) {
            EntrySpec fields;
            fields.informationLength = 10;
            fields.area = shortAd(10, 0);
            writeFileEntry(disc.image.at(vatEntry + c.padding - 1), fields);
        }
        UdfVolume volume;
        ASSERT_EQ(volume.openDevice(new FakeDevice(disc.image.bytes)), c.mounts);
        if (c.mounts) {
            EXPECT_EQ(volume.notes.vatSector, c.padding == 0 ? 0 : vatEntry);
            expectContent(&volume, disc);
        }
    }
}

TEST(Reserves, ImageLargerThanReadCapacityCanTellIsRefused) {
    testsupport::TempDir dir;
    ReserveDisc disc(Layout::Physical);
    std::string path = dir.sub("image");
    const struct {
        uint64_t sectors;
        bool mounts;
    } cases[] = {{0, true}, {0xFFFFFFFFull, true}, {0x100000000ull, false}, {0x100000001ull, false}};
    for (const auto& c : cases) {
        testsupport::writeFile(path, disc.image.bytes);
        std::error_code error;
        if (c.sectors != 0) {
            std::filesystem::resize_file(path, c.sectors * kSector, error);
        }
        if (error) GTEST_SKIP() << "no sparse file of 8 TiB here: " << error.message();
        UdfVolume volume;
        EXPECT_EQ(volume.open(path.c_str()), c.mounts) << c.sectors;
    }
}

}  // namespace
