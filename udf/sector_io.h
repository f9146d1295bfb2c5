// Sector reads through the device and through the metadata cache.
#pragma once

#include <cstdint>

#include "udf/udf_volume.h"

// One READ (10) moves at most this many sectors (1.5 MiB; its count field could carry 65,535). Large commands keep
// a reader of files that are not in the page cache busy: commands of 32 sectors (64 KiB) ran at two thirds of the
// speed.
constexpr uint32_t kMaxSectorsPerCommand = 768;

// Sectors read straight from the image, in order from the first: a command that comes back short counts the
// sectors it delivered, and no command follows it.
uint32_t readSectors(UdfVolume* volume, uint32_t firstSector, uint32_t count, void* buffer);
bool readLastSector(BlockDevice* image, uint32_t* lastSector);
// From the metadata cache when the whole range lies in it, else from the image.
uint32_t readBlocks(UdfVolume* volume, uint32_t firstSector, uint32_t count, void* buffer);
// Bytes copied from one sector; an offset at or past the sector's end copies nothing.
uint32_t readSectorPart(UdfVolume* volume, uint32_t sector, uint32_t offset, uint32_t length, void* buffer);

bool cacheMetadataFile(UdfVolume* volume, uint32_t firstSector, uint32_t count);
