// Reads split into commands of at most 32 sectors, and what a failing or short command leaves behind.
#include <gtest/gtest.h>

#include "image_builder.h"
#include "udf/sector_io.h"

namespace {

using namespace udftest;

Bytes numberedSectors(uint32_t count) {
    Image image;
    for (uint32_t s = 0; s < count; ++s) {
        image.at(s)[0] = uint8_t(s);
        image.at(s)[2047] = uint8_t(s ^ 0xFF);
    }
    return image.bytes;
}

// Two commands' worth and six sectors more go as three commands.
constexpr uint32_t kC = kMaxSectorsPerCommand;
constexpr uint32_t kRead = 2 * kC + 6;

TEST(SectorReads, LongReadsGoAsCommandsOfTheMostSectorsOneCarries) {
    UdfVolume volume;
    FakeDevice* device = attach(volume, numberedSectors(kRead + 20));
    std::vector<uint8_t> buffer(size_t(kRead) * 2048);
    ASSERT_EQ(readSectors(&volume, 10, kRead, buffer.data()), kRead);
    ASSERT_EQ(device->reads.size(), 3u);
    const uint32_t expected[3][2] = {{10, kC}, {10 + kC, kC}, {10 + 2 * kC, 6}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(device->reads[i].sector, expected[i][0]);
        EXPECT_EQ(device->reads[i].count, expected[i][1]);
        // Each command writes straight into its part of the caller's buffer.
        EXPECT_EQ(device->reads[i].buffer, buffer.data() + size_t(expected[i][0] - 10) * 2048);
    }
    for (uint32_t s = 0; s < kRead; ++s) {
        ASSERT_EQ(buffer[s * 2048], uint8_t(10 + s));
        ASSERT_EQ(buffer[s * 2048 + 2047], uint8_t((10 + s) ^ 0xFF));
    }
}

TEST(SectorReads, FailedOrShortCommandKeepsTheSectorsItDeliveredAndEndsTheRead) {
    const struct {
        FakeDevice::Fault fault;
        uint32_t faultSector;
        uint32_t expected;
        size_t commands;
    } cases[] = {
        {FakeDevice::Fault::Fail, 18 + kC, 8 + kC, 2},   // inside the second command: its first 8 sectors count
        {FakeDevice::Fault::Short, 18 + kC, 8 + kC, 2},  // answers true but delivers less
        {FakeDevice::Fault::Fail, 10 + kC, kC, 2},       // at the very start of the second
        {FakeDevice::Fault::Short, 9 + kRead, kRead - 1, 3},  // the last sector of the third
        {FakeDevice::Fault::Fail, 10, 0, 1},
    };
    for (const auto& c : cases) {
        UdfVolume volume;
        FakeDevice* device = attach(volume, numberedSectors(kRead + 20));
        device->failFrom(c.faultSector, c.fault);
        std::vector<uint8_t> buffer(size_t(kRead) * 2048, 0xEE);
        EXPECT_EQ(readSectors(&volume, 10, kRead, buffer.data()), c.expected) << "fault at " << c.faultSector;
        // No command is issued after the one that came back short.
        EXPECT_EQ(device->reads.size(), c.commands);
        // The sectors counted hold their own bytes.
        for (uint32_t s = 0; s < c.expected; ++s) {
            ASSERT_EQ(buffer[s * 2048], uint8_t(10 + s)) << "fault at " << c.faultSector;
        }
    }
}

TEST(SectorReads, NothingToReadIssuesNoCommand) {
    UdfVolume volume;
    FakeDevice* device = attach(volume, numberedSectors(10));
    uint8_t buffer[2048];
    EXPECT_EQ(readSectors(&volume, 0, 0, buffer), 0u);
    EXPECT_EQ(readSectors(&volume, 0, 1, nullptr), 0u);
    EXPECT_EQ(readBlocks(&volume, 0, 0, buffer), 0u);
    EXPECT_TRUE(device->reads.empty());
    // A range that would run past block 0xFFFFFFFF is not wrapped round to block 0.
    EXPECT_EQ(readSectors(&volume, 0xFFFFFFF0u, 32, std::vector<uint8_t>(32 * 2048).data()), 0u);
    EXPECT_TRUE(device->reads.empty());
}

TEST(SectorReads, CommandsCarryTheFieldsOfReadTen) {
    UdfVolume volume;
    volume.arena->arena = createArena(0);
    FakeDevice* device = new FakeDevice(numberedSectors(0x130));
    volume.image = device;
    std::vector<uint8_t> buffer(3 * 2048);
    ASSERT_EQ(readSectors(&volume, 0x12C, 3, buffer.data()), 3u);
    uint32_t last = 0;
    ASSERT_TRUE(readLastSector(volume.image, &last));
    EXPECT_EQ(last, 0x12Fu);
    ASSERT_EQ(device->commands.size(), 2u);
    const DeviceCommand& read = device->commands[0];
    const uint8_t cdb[16] = {0x28, 0, 0, 0, 0x01, 0x2C, 0, 0, 3};
    EXPECT_EQ(std::memcmp(read.cdb, cdb, 16), 0);
    EXPECT_EQ(read.transferLength, 3u * 2048);
    EXPECT_EQ(read.extraWord, 260u);
    EXPECT_EQ(read.extraByte, 1);
    EXPECT_EQ(read.cdbLength, 10);
    const DeviceCommand& capacity = device->commands[1];
    EXPECT_EQ(capacity.cdb[0], 0x25);
    EXPECT_EQ(capacity.transferLength, 8u);
    EXPECT_FALSE(device->statusPassed);
}

}  // namespace
