// The extent records handed between block mapping, file entries and file reads.
#pragma once

#include <cstdint>

constexpr uint16_t kExtentShort = 0;
constexpr uint16_t kExtentLong = 1;
constexpr uint16_t kExtentEmbedded = 3;

struct ExtentRef {
    uint16_t kind;
    uint16_t partition;  // kind 3: byte offset of the data within the block
    uint32_t block;      // kind 3: image sector of the block that holds the data
    uint32_t length;
};

struct FileExtent {
    uint32_t sector;
    uint32_t length;
};

struct SectorRun {
    uint32_t sector;
    uint32_t count;
};
