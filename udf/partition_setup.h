// The translation runs of metadata and virtual partitions, built from the metadata file and the VAT.
#pragma once

#include <cstdint>

#include "udf/udf_volume.h"

// A metadata file is copied into memory whole only up to this size (a disc's file entries and directories
// take a few megabytes); a larger one is read from the image block by block.
constexpr uint32_t kMaxMetadataCacheSectors = (32u << 20) / 2048;
// Sectors before the last one searched for the VAT's file entry when the last sector is not one. BD media
// record in ECC clusters of 32 sectors (64 KiB): a drive or ripper that pads the end of the last session to
// a whole cluster, or copies a further cluster of run-out, leaves the VAT up to two clusters before the end.
// The search costs one sector read each, and only on such an image.
constexpr uint32_t kVatSearchSectors = 64;
// VAT entries kept at most (16 MiB of them). A virtual block holds one file entry or a block of directory
// data; a video disc has a few thousand, and no disc's file system needs four million.
constexpr uint64_t kMaxVatEntries = 1u << 22;

// Both take a work buffer of at least one sector (the volume's scratch).
bool setupMetadataPartition(UdfVolume* volume, PartitionMap* map, uint8_t* workSector);
bool setupVirtualPartition(UdfVolume* volume, PartitionMap* map, uint8_t* workSector);
