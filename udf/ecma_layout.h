// Pure decoders of the ECMA-167 structures the reader takes fields from: tags, allocation descriptors, file
// entries.
#pragma once

#include <cstdint>

#include "udf/byte_view.h"

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

// The top two bits of an extent length say what the extent is; the low 30 are its bytes.
constexpr uint32_t kExtentLengthMask = 0x3FFFFFFF;
constexpr uint32_t kExtentRecorded = 0;
constexpr uint32_t kExtentContinuation = 3;
inline uint32_t extentType(uint32_t lengthField) {
    return lengthField >> 30;
}

struct ShortAd {
    uint32_t length;  // all 32 bits as recorded
    uint32_t position;
};

struct LongAd {
    uint32_t length;  // all 32 bits as recorded
    uint32_t block;
    uint16_t partition;
};

inline ShortAd decodeShortAd(ByteView view, uint64_t offset) {
    return {view.le32(offset), view.le32(offset + 4)};
}

inline LongAd decodeLongAd(ByteView view, uint64_t offset) {
    return {view.le32(offset), view.le32(offset + 4), view.le16(offset + 8)};
}

// Where a file entry keeps its allocation descriptors; every field is already cut to the block read.
struct DescriptorArea {
    uint8_t type;     // ICB tag flags & 7
    uint32_t offset;  // start of the area from the start of the entry
    uint32_t length;  // L_AD, cut so that offset + length stays inside the block
    uint32_t count;   // descriptors (short, long) or data bytes (embedded) inside that length; 0 otherwise
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
    switch (area->type) {
        case kAdShort:
            area->count = area->length / kShortAdSize;
            break;
        case kAdLong:
            area->count = area->length / kLongAdSize;
            break;
        case kAdEmbedded:
            area->count = area->length;
            break;
        default:
            area->count = 0;
            break;
    }
    return true;
}
