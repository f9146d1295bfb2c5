// The extent records handed between block mapping, file entries and file reads.
#pragma once

#include <cstdint>

// Short allocation descriptors are resolved to their partition as they are decoded, so a record is either
// long (a block of a named partition) or embedded; a zeroed record names no extent and reads nothing.
constexpr uint16_t kExtentNone = 0;
constexpr uint16_t kExtentLong = 1;
constexpr uint16_t kExtentEmbedded = 3;

struct ExtentRef {
    uint16_t kind;
    uint16_t partition;  // kind 3: byte offset of the data within the block
    uint32_t block;      // kind 3: image sector of the block that holds the data
    uint32_t length;     // bytes; the top two bits may still carry the recorded extent type
};

struct FileExtent {
    uint32_t sector;  // kUnmappedSector when the extent's first block is not mapped
    uint32_t length;
};

struct SectorRun {
    uint32_t sector;  // kUnmappedSector for sectors of an unmapped extent
    uint32_t count;
};
