// One mapping function per partition kind, chosen when a map is set up, and the mapping of extents.
#pragma once

#include <cstdint>

#include "udf/extents.h"
#include "udf/udf_volume.h"

// The map a partition reference names, or null when the reference lies at or past mapCount.
const PartitionMap* partitionMapAt(const UdfVolume* volume, uint16_t partition);

// Gives the map the mapping function of its type and kind: a type 1 map adds the partition start, a metadata
// map walks the metadata file's runs, a virtual map looks its block up in the VAT, and any other maps
// nothing.
void choosePartitionMapping(PartitionMap* map);

// Where `block` of the map lies; unmapped without a map, a descriptor or a mapping function, or for a block
// the map's kind does not cover.
BlockPlace mapPartitionBlock(const PartitionMap* map, uint32_t block);

// Image sector of the extent's first block (kind 1) or of the block holding its data (kind 3);
// kUnmappedSector for an unmapped block or a record of no extent.
uint32_t mapBlock(const UdfVolume* volume, const ExtentRef* extent);
