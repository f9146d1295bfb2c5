// Pure decoders of the ECMA-167 structures the reader reads: allocation descriptors, file entries,
// identifiers.
#pragma once

#include <cstdint>

#include "udf/byte_view.h"
#include "udf/extents.h"

constexpr uint16_t kTagPrimaryVolume = 1;
constexpr uint16_t kTagImplementationUse = 4;
constexpr uint16_t kTagPartition = 5;
constexpr uint16_t kTagLogicalVolume = 6;
constexpr uint16_t kTagUnallocatedSpace = 7;
constexpr uint16_t kTagFileEntry = 261;
constexpr uint16_t kTagExtendedFileEntry = 266;

constexpr uint8_t kAdShort = 0;
constexpr uint8_t kAdLong = 1;
constexpr uint8_t kAdExtended = 2;
constexpr uint8_t kAdEmbedded = 3;

constexpr uint32_t kShortAdSize = 8;
constexpr uint32_t kLongAdSize = 16;
constexpr uint32_t kExtendedAdSize = 20;

// The Allocation Extent Descriptor of a continuation area keeps its L_AD here and its descriptors after it.
constexpr uint32_t kContinuationLengthOffset = 20;
constexpr uint32_t kContinuationAreaOffset = 24;

// The top two bits of an extent length say what the extent is; the low 30 are its bytes.
constexpr uint32_t kExtentLengthMask = 0x3FFFFFFF;
constexpr uint32_t kExtentRecorded = 0;
constexpr uint32_t kExtentContinuation = 3;
inline uint32_t extentType(uint32_t lengthField) {
    return lengthField >> 30;
}

// Bytes one descriptor of the form takes; 0 for embedded data and the undefined forms 4 to 7.
inline uint32_t descriptorSize(uint8_t form) {
    switch (form) {
        case kAdShort:
            return kShortAdSize;
        case kAdLong:
            return kLongAdSize;
        case kAdExtended:
            return kExtendedAdSize;
        default:
            return 0;
    }
}

inline uint32_t descriptorsIn(uint32_t areaLength, uint8_t form) {
    uint32_t size = descriptorSize(form);
    return size != 0 ? areaLength / size : 0;
}

// Where a file entry keeps its allocation descriptors; every field is already cut to the block read.
struct DescriptorArea {
    uint8_t type;     // ICB tag flags & 7
    uint32_t offset;  // start of the area from the start of the entry
    uint32_t length;  // L_AD, cut so that offset + length stays inside the block
    uint32_t count;   // descriptors (short, long, extended) or data bytes (embedded) inside that length
    uint64_t informationLength;
    uint64_t modificationOffset;  // where the 12-byte timestamp lies
};

// False when the block holds neither a File Entry nor an Extended File Entry.
inline bool locateDescriptors(ByteView block, DescriptorArea* area) {
    uint16_t tag = block.le16(0);
    uint64_t eaField = 0;
    uint64_t areaBase = 0;
    if (tag == kTagFileEntry) {
        eaField = 168;
        areaBase = 176;
        area->modificationOffset = 84;
    } else if (tag == kTagExtendedFileEntry) {
        eaField = 208;
        areaBase = 216;
        area->modificationOffset = 92;
    } else {
        return false;
    }
    area->type = uint8_t(block.le16(34) & 7);
    area->informationLength = block.le64(56);
    uint64_t start = areaBase + block.le32(eaField);
    uint64_t length = block.le32(eaField + 4);
    // An L_EA or L_AD that runs past the block shrinks the area to what lies inside it.
    if (start > block.size) {
        start = block.size;
    }
    if (length > block.size - start) {
        length = block.size - start;
    }
    area->offset = uint32_t(start);
    area->length = uint32_t(length);
    area->count = area->type == kAdEmbedded ? area->length : descriptorsIn(area->length, area->type);
    return true;
}

// The descriptors of a continuation area, in the form of the descriptors that pointed to it; an L_AD larger
// than the area is cut to the descriptors inside it.
inline DescriptorArea locateContinuationDescriptors(ByteView block, uint8_t form) {
    DescriptorArea area = {};
    area.type = form;
    area.offset = uint32_t(block.size < kContinuationAreaOffset ? block.size : kContinuationAreaOffset);
    uint64_t length = block.le32(kContinuationLengthOffset);
    area.length = uint32_t(length < block.size - area.offset ? length : block.size - area.offset);
    area.count = descriptorsIn(area.length, form);
    return area;
}

// A long allocation descriptor standing on its own (an ICB, the file set's address) as a kind 1 record.
inline ExtentRef decodeLongAd(ByteView bytes, uint64_t offset) {
    return {kExtentLong, bytes.le16(offset + 8), bytes.le32(offset + 4), bytes.le32(offset)};
}

// Descriptor `index` of the area in `block` as an ExtentRef, whatever its form. Short, long and extended
// descriptors become kind 1 with their whole length field; a short one names a block of `shortPartition`,
// the partition the caller's short descriptors lie in, so no short form travels further. Embedded data
// becomes kind 3 over the area itself in `blockSector`, the image sector of the block. Any other form gives
// a record of no extent. The bytes are read from where the descriptor stands even past L_AD, and read as 0
// past the block.
inline ExtentRef decodeAllocationDescriptor(ByteView block, const DescriptorArea& area, uint32_t index,
                                            uint16_t shortPartition, uint32_t blockSector) {
    uint64_t at = area.offset + uint64_t(index) * descriptorSize(area.type);
    switch (area.type) {
        case kAdShort:
            return {kExtentLong, shortPartition, block.le32(at + 4), block.le32(at)};
        case kAdLong:
            return decodeLongAd(block, at);
        case kAdExtended:
            // Extent length at 0, recorded and information lengths at 4 and 8, the location (lb_addr) at 12.
            return {kExtentLong, block.le16(at + 16), block.le32(at + 12), block.le32(at)};
        case kAdEmbedded:
            return {kExtentEmbedded, uint16_t(area.offset), blockSector, area.length};
        default:
            return {kExtentNone, 0, 0, 0};
    }
}

// The fixed part of a File Identifier Descriptor, before its implementation use and identifier.
constexpr uint32_t kFidHeaderSize = 38;
constexpr uint8_t kCharacteristicDirectory = 2;
constexpr uint8_t kCharacteristicDeleted = 4;

// The fields of a File Identifier Descriptor that the tree reads.
struct FileIdentifier {
    uint8_t characteristics;
    uint8_t identifierLength;   // L_FI; 0 marks the parent entry
    ExtentRef icb;              // the entry's file entry, as a long_ad
    uint32_t uniqueId;          // low 32 bits of the unique ID in the ICB's implementation use
    uint64_t identifierOffset;  // 38 + L_IU: compression ID, then L_FI - 1 bytes of characters
    uint64_t used;              // 38 + L_IU + L_FI: the bytes the descriptor fills
    uint64_t next;              // that rounded up to a multiple of 4: where the next descriptor starts
};

// Fields past the view read as 0; the caller checks that `used` bytes lie inside it before trusting them.
inline FileIdentifier decodeFileIdentifier(ByteView fid) {
    FileIdentifier out = {};
    out.characteristics = fid.u8(18);
    out.identifierLength = fid.u8(19);
    out.icb = decodeLongAd(fid, 20);
    out.uniqueId = fid.le32(32);
    uint16_t useLength = fid.le16(36);
    out.identifierOffset = kFidHeaderSize + uint64_t(useLength);
    out.used = out.identifierOffset + out.identifierLength;
    out.next = (uint64_t(useLength) + out.identifierLength + 41) & ~uint64_t(3);
    return out;
}
