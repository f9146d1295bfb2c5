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
// Extent records one mount keeps in all (8 to 12 MiB of them); entries that share one file entry would
// otherwise each copy its extents, up to gigabytes. A disc records a few per file: even a 50 GB clip takes
// only 50 extents of 1 GiB, and a disc holds fewer than 100,000 clips.
constexpr uint32_t kMaxMountExtentRecords = 1u << 20;

constexpr uint32_t kNsrEdition2 = 4;
constexpr uint32_t kNsrEdition3 = 8;

struct PartitionSlot {
    uint32_t start;
    uint16_t number;
    uint32_t length;  // Partition Length, in blocks
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
    // Records in runs (a metadata map), or entries in vat (a virtual map). 32 bits rather than 16: a VAT or a
    // metadata file of more than 65,535 entries must not be truncated.
    uint32_t runCount;
    PartitionRun* runs;
    // Null until chosen; a map without one maps nothing.
    BlockMapper mapper;
    // A virtual map's table: entry b is the block, in the partition beneath, where virtual block b lies.
    // Every virtual map of the volume shares the one VAT.
    const uint32_t* vat;
};

// What the mount used besides the main structures, so that the run can say it in one plain line.
struct MountNotes {
    uint32_t anchorSector = 256;   // where the anchor that was used lies
    bool reserveSequence = false;  // the reserve volume descriptor sequence was used
    uint32_t sequenceSector = 0;   // first sector of the sequence that was used
    uint32_t vatSector = 0;        // the VAT's file entry, when found before the last sector; else 0
};

enum class VolumeDamageKind : uint8_t {
    EntryUnreadable,      // a file entry that cannot be read, lies nowhere or is no file entry
    DirectoryUnreadable,  // directory data that could not be read whole; the entries before it are kept
    ExtentsUnreadable,    // a continuation area of allocation descriptors; the file then reads short
};

// A structure the mount or the tree build needed and could not read. The path names what it belongs to:
// "BDMV/STREAM/00001.m2ts", a directory with a trailing '/', the root as "/". It lives as long as the
// volume.
struct VolumeDamage {
    VolumeDamageKind kind;
    // The first sector that could not be read, or the one the entry points to; kUnmappedSector when the
    // block it names maps to no sector at all.
    uint32_t sector;
    const char* path;
};

// Where the last read of a file's data left off in its extent list: the extent and the file sector it starts
// at. Reads of one file from start to end thus walk its extents once.
struct ExtentCursor {
    const DirectoryNode* node;
    uint32_t extent;
    uint64_t sector;
};

// Damage records a volume keeps; past them damage is only counted. A disc with more than this many
// unreadable structures is told apart by the count.
constexpr uint32_t kMaxRecordedDamage = 64;

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
    // The image's last sector, from READ CAPACITY (10) at the start of the mount.
    uint32_t lastSector = 0;
    MountNotes notes;
    VolumeDamage damage[kMaxRecordedDamage] = {};
    uint32_t damageRecorded = 0;
    uint32_t damageFound = 0;
    ExtentCursor readCursor = {nullptr, 0, 0};

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

// All the damage the mount found, recorded or not.
uint32_t volumeDamageCount(const UdfVolume* volume);
// The index-th damage record, in the order found; null past the recorded ones.
const VolumeDamage* volumeDamageAt(const UdfVolume* volume, uint32_t index);
