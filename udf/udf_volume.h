// UdfVolume: the mounted UDF file system of a disc image and its partition table.
#pragma once

#include <cstdint>

class BlockDevice;
struct ArenaHolder;
struct GrowBuffer;
struct DirectoryNode;

// Continuation areas one mount follows in all; entries that share a chain would otherwise each follow it
// again. One area holds up to 253 extents, so this is far more than any disc records.
constexpr uint32_t kMaxMountContinuationAreas = 16384;
// Extent records one mount keeps in all (64 MiB of them); entries that share one file entry would otherwise
// each copy its extents, up to gigabytes. A disc records a few per file.
constexpr uint32_t kMaxMountExtentRecords = 1u << 22;

constexpr uint32_t kNsrEdition2 = 4;
constexpr uint32_t kNsrEdition3 = 8;

struct PartitionSlot {
    uint32_t start;
    uint16_t number;
};

enum class PartitionKind : uint8_t {
    Physical = 0,
    Virtual = 1,
    Sparable = 2,
    Metadata = 3,
    Unrecognised = 4,
};

struct PartitionRun {
    uint32_t start;
    uint32_t blockCount;
};

// 0 is a real sector (the image's first), so "not mapped" has a value of its own; no map yields it as a
// sector.
constexpr uint32_t kUnmappedSector = 0xFFFFFFFF;

// Where a logical block lies in the image: its sector, and how many blocks from it on follow it there. An
// unmapped block has kUnmappedSector and none.
struct BlockPlace {
    uint32_t sector;
    uint32_t contiguous;
};

struct PartitionMap;
// How one kind of partition maps its blocks; chosen once per map when the maps are set up
// (udf/block_mapping.h).
using BlockMapper = BlockPlace (*)(const PartitionMap& map, uint32_t block);

struct PartitionMap {
    uint8_t mapType;
    PartitionKind kind;
    uint16_t partitionNumber;
    PartitionSlot* descriptor;
    uint32_t metadataFileLocation;
    // 32 bits rather than 16: a VAT or a metadata file of more than 65,535 entries must not be truncated.
    uint32_t runCount;
    PartitionRun* runs;
    // Null until chosen; a map without one maps nothing.
    BlockMapper mapper;
};

struct UdfVolume {
    uint32_t vrsFlags = 0;
    uint8_t* metadataCache = nullptr;
    uint32_t cacheFirstSector = 0;
    uint32_t cacheLastSector = 0;
    PartitionSlot partitions[2] = {};
    PartitionMap* maps = nullptr;
    uint32_t mapCount = 0;
    uint16_t defaultPartition = 0;
    BlockDevice* image = nullptr;
    DirectoryNode* root = nullptr;
    ArenaHolder* arena = nullptr;
    GrowBuffer* scratch = nullptr;
    GrowBuffer* entryScratch = nullptr;
    uint32_t continuationAreasLeft = kMaxMountContinuationAreas;
    uint32_t extentRecordsLeft = kMaxMountExtentRecords;

    UdfVolume();
    ~UdfVolume();
    UdfVolume(const UdfVolume&) = delete;
    UdfVolume& operator=(const UdfVolume&) = delete;

    // Opens the image file at `path` as the volume's device and mounts it.
    bool open(const char* path);
    // Mounts over a device that is already open; the volume owns it from here on, even on failure.
    bool openDevice(BlockDevice* device);
    // The mount sequence (udf/mount.cpp), run once by open.
    bool mount();
};
