// ImageFile on real files: READ CAPACITY (10) at edge sizes, READ (10) past the end, count 0, offsets above 4
// GiB.
#include "io/image_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace {

using testsupport::TempDir;

DeviceCommand command(uint8_t opcode, void* data, uint32_t block = 0, uint16_t count = 0) {
    DeviceCommand c = {};
    c.cdb[0] = opcode;
    c.cdb[2] = uint8_t(block >> 24);
    c.cdb[3] = uint8_t(block >> 16);
    c.cdb[4] = uint8_t(block >> 8);
    c.cdb[5] = uint8_t(block);
    c.cdb[7] = uint8_t(count >> 8);
    c.cdb[8] = uint8_t(count);
    c.dataBuffer = data;
    c.cdbLength = 10;
    return c;
}

std::vector<uint8_t> numbered(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = uint8_t(i / 2048 * 31 + i);
    }
    return bytes;
}

TEST(ImageFile, ReadCapacityCountsWholeBlocksOnly) {
    const struct {
        size_t size;
        uint32_t lastBlock;
    } cases[] = {{4096, 1}, {5000, 1}, {2048, 0}, {2047, 0xFFFFFFFF}, {0, 0xFFFFFFFF}, {100 * 2048, 99}};
    TempDir dir;
    for (const auto& c : cases) {
        std::string path = dir.sub("image" + std::to_string(c.size));
        testsupport::writeFile(path, numbered(c.size));
        ImageFile image;
        ASSERT_TRUE(image.Open(path.c_str()));
        uint8_t data[8] = {};
        DeviceCommand cmd = command(kOpReadCapacity10, data);
        ASSERT_TRUE(image.Execute(&cmd, nullptr));
        uint32_t last =
            (uint32_t(data[0]) << 24) | (uint32_t(data[1]) << 16) | (uint32_t(data[2]) << 8) | data[3];
        EXPECT_EQ(last, c.lastBlock) << "size " << c.size;
        EXPECT_EQ(data[4], 0);
        EXPECT_EQ(data[5], 0);
        EXPECT_EQ(data[6], 8);
        EXPECT_EQ(data[7], 0);
    }
}

TEST(ImageFile, ReadDeliversBlocksAndReportsShortReadsPastTheEnd) {
    TempDir dir;
    std::string path = dir.sub("image");
    std::vector<uint8_t> bytes = numbered(3 * 2048);
    testsupport::writeFile(path, bytes);
    ImageFile image;
    ASSERT_TRUE(image.Open(path.c_str()));

    std::vector<uint8_t> buffer(4 * 2048, 0xCC);
    DeviceCommand one = command(kOpRead10, buffer.data(), 1, 1);
    ASSERT_TRUE(image.Execute(&one, nullptr));
    EXPECT_EQ(image.lastStatus.bytesTransferred, 2048u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 2048, bytes.begin() + 2048));

    // The last block and the one after it: the first arrives, the rest of the buffer is untouched.
    std::fill(buffer.begin(), buffer.end(), 0xCC);
    CommandStatus status = {99, 99};
    DeviceCommand pastEnd = command(kOpRead10, buffer.data(), 2, 2);
    EXPECT_FALSE(image.Execute(&pastEnd, &status));
    EXPECT_EQ(status.bytesTransferred, 2048u);
    EXPECT_EQ(status.statusCode, 0u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 2048, bytes.begin() + 4096));
    EXPECT_EQ(buffer[2048], 0xCC);

    DeviceCommand beyond = command(kOpRead10, buffer.data(), 50, 1);
    EXPECT_FALSE(image.Execute(&beyond, nullptr));
    EXPECT_EQ(image.lastStatus.bytesTransferred, 0u);
}

TEST(ImageFile, CountZeroAndUnknownCommandsTouchNothing) {
    TempDir dir;
    std::string path = dir.sub("image");
    testsupport::writeFile(path, numbered(2048));
    ImageFile image;
    ASSERT_TRUE(image.Open(path.c_str()));
    uint8_t buffer[16];
    std::memset(buffer, 0xAB, sizeof(buffer));
    image.lastStatus = {77, 77};
    DeviceCommand zero = command(kOpRead10, buffer, 0, 0);
    EXPECT_TRUE(image.Execute(&zero, nullptr));
    EXPECT_EQ(image.lastStatus.bytesTransferred, 0u);
    EXPECT_EQ(buffer[0], 0xAB);

    image.lastStatus = {77, 77};
    DeviceCommand other = command(0x12, buffer, 0, 1);
    EXPECT_TRUE(image.Execute(&other, nullptr));
    EXPECT_EQ(image.lastStatus.bytesTransferred, 77u);
    EXPECT_EQ(image.lastStatus.statusCode, 77u);
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_FALSE(image.SpareQueryA());
    EXPECT_TRUE(image.SpareQueryB());
    EXPECT_TRUE(image.SpareQueryC());
    EXPECT_TRUE(image.Close());
}

TEST(ImageFile, BlockBeyondFourGibibytesIsReadFromTheRightOffset) {
    TempDir dir;
    std::string path = dir.sub("sparse");
    const uint32_t block = 3000000;  // byte offset about 5.7 GiB
    {
        std::ofstream out(path, std::ios::binary);
        out.seekp(std::streamoff(uint64_t(block) * 2048));
        std::vector<uint8_t> marker = numbered(2048);
        marker[0] = 0x42;
        out.write(reinterpret_cast<const char*>(marker.data()), std::streamsize(marker.size()));
    }
    ASSERT_EQ(std::filesystem::file_size(path), (uint64_t(block) + 1) * 2048);
    ImageFile image;
    ASSERT_TRUE(image.Open(path.c_str()));
    std::vector<uint8_t> buffer(2048);
    DeviceCommand read = command(kOpRead10, buffer.data(), block, 1);
    ASSERT_TRUE(image.Execute(&read, nullptr));
    EXPECT_EQ(buffer[0], 0x42);
    EXPECT_EQ(buffer[1], numbered(2048)[1]);
    // Block 3,000,000 modulo 2^32 / 2048 would be block 902,848: make sure that one reads as zeros.
    DeviceCommand wrapped = command(kOpRead10, buffer.data(), block - 2097152, 1);
    ASSERT_TRUE(image.Execute(&wrapped, nullptr));
    EXPECT_EQ(buffer[0], 0);

    uint8_t capacity[8] = {};
    DeviceCommand cap = command(kOpReadCapacity10, capacity);
    ASSERT_TRUE(image.Execute(&cap, nullptr));
    EXPECT_EQ((uint32_t(capacity[0]) << 24) | (uint32_t(capacity[1]) << 16) | (uint32_t(capacity[2]) << 8) |
                  capacity[3],
              block);
}

// Sparse files around 2^32 blocks (8 TiB): READ CAPACITY (10) never wraps to a small size, and the mount
// refuses an image whose size it cannot tell.
TEST(ImageFile, ImagesOfTwoToTheThirtyTwoBlocksOrMoreAnswerTheMaximum) {
    const struct {
        uint64_t blocks;
        uint32_t lastBlock;
    } cases[] = {
        {0xFFFFFFFFull, 0xFFFFFFFE},
        {0x100000000ull, 0xFFFFFFFF},  // the last block address exactly fills the field
        {0x100000001ull, 0xFFFFFFFF},  // one block more: not block 0
        {0x100000000ull + 3000, 0xFFFFFFFF},
    };
    TempDir dir;
    std::string path = dir.sub("huge");
    for (const auto& c : cases) {
        testsupport::writeFile(path, numbered(2048));
        std::error_code error;
        std::filesystem::resize_file(path, c.blocks * 2048, error);
        if (error) GTEST_SKIP() << "no sparse file of 8 TiB here: " << error.message();
        ImageFile image;
        ASSERT_TRUE(image.Open(path.c_str()));
        uint8_t capacity[8] = {};
        DeviceCommand cap = command(kOpReadCapacity10, capacity);
        ASSERT_TRUE(image.Execute(&cap, nullptr));
        EXPECT_EQ((uint32_t(capacity[0]) << 24) | (uint32_t(capacity[1]) << 16) | (uint32_t(capacity[2]) << 8) |
                      capacity[3],
                  c.lastBlock)
            << c.blocks;
    }
}

TEST(ImageFile, OpenFailsOnAMissingFile) {
    TempDir dir;
    ImageFile image;
    EXPECT_FALSE(image.Open(dir.sub("missing").c_str()));
}

}  // namespace
