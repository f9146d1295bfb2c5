// The translation runs of metadata and virtual partitions, built from the metadata file and the VAT.
#pragma once

#include <cstdint>

#include "udf/udf_volume.h"

// Both take a work buffer of at least one sector (the volume's scratch).
bool setupMetadataPartition(UdfVolume* volume, PartitionMap* map, uint8_t* workSector);
bool setupVirtualPartition(UdfVolume* volume, PartitionMap* map, uint8_t* workSector);
