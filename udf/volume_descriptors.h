// The anchor, the main volume descriptor sequence, the partition maps and the file set descriptor.
#pragma once

#include <cstdint>

#include "udf/extents.h"
#include "udf/udf_volume.h"

constexpr uint32_t kAnchorSector = 256;
// Descriptors of the sequence read with one command.
constexpr uint32_t kSequenceReadSectors = 16;
// The partition maps of a logical volume descriptor start here and must lie inside its sector.
constexpr uint32_t kPartitionMapsOffset = 440;

// Fills the partition table and the root directory's extent; `rootExtent` keeps length 0 when the root
// file entry cannot be read or uses extended descriptors.
bool readVolumeDescriptors(UdfVolume* volume, ExtentRef* rootExtent, uint32_t* rootEntrySector);
