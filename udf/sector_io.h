// Sector reads through the device and the metadata cache, and the mapping of logical blocks to image sectors.
#pragma once

#include <cstdint>

#include "udf/ecma_layout.h"
#include "udf/extents.h"
#include "udf/udf_volume.h"

// One READ (10) moves at most this many sectors.
constexpr uint32_t kMaxSectorsPerCommand = 32;

// Sectors of the commands that completed in full, straight from the image.
uint32_t readSectors(UdfVolume* volume, uint32_t firstSector, uint32_t count, void* buffer);
bool readLastSector(BlockDevice* image, uint32_t* lastSector);
// From the metadata cache when the whole range lies in it, else from the image.
uint32_t readBlocks(UdfVolume* volume, uint32_t firstSector, uint32_t count, void* buffer);
// Bytes copied from one sector; an offset at or past the sector's end copies nothing.
uint32_t readSectorPart(UdfVolume* volume, uint32_t sector, uint32_t offset, uint32_t length, void* buffer);

// The map a partition reference names, or null when the reference lies at or past mapCount.
const PartitionMap* partitionMapAt(const UdfVolume* volume, uint16_t partition);

// Image sector of `block` of the map, and how many blocks from it on lie consecutively in the image.
// False for a block that is not mapped: no descriptor, no run covering it, or a kind without runs.
bool mapPartitionBlock(const PartitionMap* map, uint32_t block, uint32_t* sector, uint32_t* contiguous);

// Image sector of the ExtentRef's block, 0 when unmapped; rewrites kind 0 into kind 1.
uint32_t mapBlock(UdfVolume* volume, ExtentRef* extent);
uint32_t mapLongAd(UdfVolume* volume, const LongAd& longAd);

bool cacheMetadataFile(UdfVolume* volume, uint32_t firstSector, uint32_t count);
