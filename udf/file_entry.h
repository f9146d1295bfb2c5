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
// unmapped first block, and for a record of no extent. When it reads less than asked, *failedSector (if
// given) is the first sector that did not arrive, or kUnmappedSector for a block that lies nowhere.
uint32_t readExtent(UdfVolume* volume, const ExtentRef* extent, void* destination, uint64_t capacity,
                    uint32_t* failedSector = nullptr);

enum class EntryRead : uint8_t {
    Read,        // the entry was read; a node whose entry holds an unsupported form keeps no extents
    Unreadable,  // the entry could not be read, lies nowhere, or is no file entry: recorded as damage
    NoMemory,    // an array could not be allocated
};

// Reads the node's file entry, named by the directory entry's ICB, and fills its time, size and extents. The
// node's name and parent must be set: damage is recorded with its path.
EntryRead readEntry(UdfVolume* volume, DirectoryNode* node, const ExtentRef& icb);

// Appends the recorded extents of a continuation area whose descriptors have the given form (that of the
// descriptors that pointed to it). `followed` holds the areas already followed for this entry, at most
// kMaxContinuationAreas, so each of the thousands of pointers an entry's areas may hold is checked in
// constant time. An area that cannot be read is recorded as damage of `owner`; false only when the list
// cannot grow.
bool followContinuation(UdfVolume* volume, const DirectoryNode* owner, ExtentRef area, uint8_t form,
                        HeapArray<FileExtent>* list, SectorSet* followed);

// A directory's data is its information length: extents recorded longer than that (a writer rounding them to
// whole blocks) are cut there, so what follows the last descriptor is never taken for damage.
void limitToInformationLength(ExtentRef* extents, uint32_t count, uint64_t informationLength);
