// The anchor, the main volume descriptor sequence, the partition maps and the file set descriptor.
#pragma once

#include <cstdint>

#include "udf/extents.h"
#include "udf/udf_volume.h"

constexpr uint32_t kAnchorSector = 256;
// Descriptors of the sequence read with one command.
constexpr uint32_t kSequenceReadSectors = 16;
// Sectors of a sequence walked at most. Discs record the sequence in 16 sectors holding a handful of
// descriptors; a forged length of gigabytes, or thousands of logical volume descriptors, ends here.
constexpr uint32_t kMaxSequenceSectors = 256;
// The partition maps of a logical volume descriptor start here and must lie inside its sector; each takes
// at least two bytes, so no descriptor holds more maps than this.
constexpr uint32_t kPartitionMapsOffset = 440;
constexpr uint32_t kMaxPartitionMaps = (2048 - kPartitionMapsOffset) / 2;

// Finds the anchor (sector 256, else the last sector less 256, else the last sector), walks its main
// sequence or, when that yields no logical volume or no partition, its reserve sequence, and fills the
// partition table and the root directory's extent, noting what it used in volume->notes. `rootExtent` keeps
// length 0 when the root file entry cannot be read (recorded as damage of "/") or uses extended
// descriptors.
bool readVolumeDescriptors(UdfVolume* volume, ExtentRef* rootExtent, uint32_t* rootEntrySector);
