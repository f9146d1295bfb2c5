// The pure decoders: allocation descriptors of every form, continuation areas, File Identifier Descriptors.
#include "udf/ecma_layout.h"

#include <gtest/gtest.h>

#include "image_builder.h"

namespace {

using namespace udftest;

// One descriptor of the form at `at`: an extended one has its recorded and information lengths at 4 and 8
// and its location at 12.
void writeDescriptor(uint8_t* at, uint8_t form, uint32_t length, uint32_t block, uint16_t partition) {
    put32(at, length);
    if (form == kAdShort) {
        put32(at + 4, block);
    } else if (form == kAdLong) {
        put32(at + 4, block);
        put16(at + 8, partition);
    } else {
        put32(at + 4, 0x11111111);
        put32(at + 8, 0x22222222);
        put32(at + 12, block);
        put16(at + 16, partition);
    }
}

Bytes extendedAd(uint32_t length, uint32_t block, uint16_t partition) {
    Bytes b(20, 0);
    writeDescriptor(b.data(), kAdExtended, length, block, partition);
    return b;
}

void expectExtent(const ExtentRef& got, const ExtentRef& want) {
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.partition, want.partition);
    EXPECT_EQ(got.block, want.block);
    EXPECT_EQ(got.length, want.length);
}

TEST(AllocationDescriptors, EveryFormBecomesAnExtentWithItsPartition) {
    const uint32_t kTyped = (1u << 30) | 4096;  // the extent type travels in the length
    const struct {
        const char* what;
        uint8_t form;
        uint32_t index;
        ExtentRef want;
    } cases[] = {
        // Short descriptors carry no partition: they take the one the caller names, here 4.
        {"short", kAdShort, 1, {kExtentLong, 4, 9, kTyped}},
        {"long", kAdLong, 1, {kExtentLong, 2, 9, kTyped}},
        {"extended", kAdExtended, 1, {kExtentLong, 2, 9, kTyped}},
        // The area itself (16 bytes here), in the entry's own sector 5000, 40 bytes into it.
        {"embedded", kAdEmbedded, 0, {kExtentEmbedded, 40, 5000, 16}},
        {"undefined form", 5, 0, {kExtentNone, 0, 0, 0}},
        // Past the block every field reads as 0; a short one still names the caller's partition.
        {"short past the block", kAdShort, 300, {kExtentLong, 4, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t block[80];
        std::memset(block, 0x99, sizeof(block));
        uint32_t size = c.form == kAdExtended ? 20 : c.form == kAdLong ? 16 : 8;
        writeDescriptor(block + 40, c.form, 100, 7, 0);
        writeDescriptor(block + 40 + size, c.form, kTyped, 9, 2);
        DescriptorArea area = {};
        area.type = c.form;
        area.offset = 40;
        area.length = 2 * size;
        expectExtent(decodeAllocationDescriptor(ByteView(block, sizeof(block)), area, c.index, 4, 5000),
                     c.want);
    }
}

TEST(AllocationDescriptors, EntryAreasCountEveryFormAndContinuationAreasAreCutToTheirBlock) {
    // A File Entry whose L_AD holds two extended descriptors and four spare bytes.
    Bytes entry(2048, 0);
    EntrySpec fields;
    fields.adType = kAdExtended;
    fields.area = cat({extendedAd(2048, 10, 0), extendedAd(2048, 11, 0), Bytes(4, 0)});
    writeFileEntry(entry.data(), fields);
    DescriptorArea area = {};
    ASSERT_TRUE(locateDescriptors(ByteView(entry.data(), entry.size()), &area));
    EXPECT_EQ(area.count, 2u);
    expectExtent(decodeAllocationDescriptor(ByteView(entry.data(), entry.size()), area, 1, 0, 0),
                 {kExtentLong, 0, 11, 2048});

    const struct {
        uint8_t form;
        size_t blockSize;
        uint32_t adLength;
        uint32_t length;
        uint32_t count;
    } cases[] = {
        {kAdShort, 2048, 24, 24, 3},
        {kAdLong, 2048, 40, 40, 2},    // a half descriptor at the end is not one
        {kAdShort, 100, 2000, 76, 9},  // an L_AD past the block is cut to it
        {kAdLong, 20, 16, 0, 0},       // a block too short to hold the header holds nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.blockSize);
        Bytes block(2048, 0);
        writeContinuation(block.data(), {}, c.adLength);
        DescriptorArea got = locateContinuationDescriptors(ByteView(block.data(), c.blockSize), c.form);
        EXPECT_EQ(got.type, c.form);
        EXPECT_EQ(got.offset, c.blockSize < 24 ? c.blockSize : 24u);
        EXPECT_EQ(got.length, c.length);
        EXPECT_EQ(got.count, c.count);
    }
}

TEST(FileIdentifiers, HeaderFieldsAndTheStepToTheNextDescriptor) {
    const struct {
        uint16_t implementationUse;
        Bytes identifier;
        uint64_t used;
        uint64_t next;
    } cases[] = {
        {0, name8("AACS"), 43, 44},
        {3, name8("AB"), 44, 44},
        {0, {}, 38, 40},  // the parent entry
        {32, name16(u"\u20ac"), 73, 76},
    };
    for (const auto& c : cases) {
        Bytes descriptor =
            fid(kFidDirectory | kFidHidden, c.identifier, longAd(2048, 77, 1), 0xCAFE, c.implementationUse);
        FileIdentifier got = decodeFileIdentifier(ByteView(descriptor.data(), descriptor.size()));
        EXPECT_EQ(got.characteristics, kFidDirectory | kFidHidden);
        EXPECT_EQ(got.identifierLength, c.identifier.size());
        expectExtent(got.icb, {kExtentLong, 1, 77, 2048});
        EXPECT_EQ(got.uniqueId, 0xCAFEu);
        EXPECT_EQ(got.identifierOffset, 38u + c.implementationUse);
        EXPECT_EQ(got.used, c.used);
        EXPECT_EQ(got.next, c.next);
        EXPECT_EQ(got.next, descriptor.size());
    }
}

}  // namespace
