// File entries and their allocation descriptors: extent lists, continuation areas, extent reads.
#pragma once

#include <cstdint>

#include "udf/ecma_layout.h"
#include "udf/extents.h"
#include "udf/heap_array.h"
#include "udf/sector_set.h"
#include "udf/udf_volume.h"

struct DirectoryNode;

// File entries and allocation extents occupy one logical block; nothing past their first sector is read.
constexpr uint32_t kMaxEntryBytes = 2048;
// Continuation areas one file entry may follow; an area already followed for the entry is skipped.
constexpr uint32_t kMaxContinuationAreas = 256;

// Sectors read (kind 1) or bytes copied (kind 3), never more than `capacity` bytes; 0 on failure, for an
// unmapped first block, and for a record of no extent.
uint32_t readExtent(UdfVolume* volume, const ExtentRef* extent, void* destination, uint64_t capacity);

// Reads the node's file entry, named by the directory entry's ICB, and fills its time, size and extents;
// false when the entry cannot be read or its arrays cannot be allocated.
bool readEntry(UdfVolume* volume, DirectoryNode* node, const ExtentRef& icb);

// Appends the recorded extents of a continuation area whose descriptors have the given form (that of the
// descriptors that pointed to it). `followed` holds the areas already followed for this entry, at most
// kMaxContinuationAreas, so each of the thousands of pointers an entry's areas may hold is checked in
// constant time.
bool followContinuation(UdfVolume* volume, ExtentRef area, uint8_t form, HeapArray<FileExtent>* list,
                        SectorSet* followed);
