// Reads of file data from the mounted image: any byte range or a whole file, over runs of image sectors.
#pragma once

#include <cstdint>

#include "udf/directory_node.h"
#include "udf/extents.h"
#include "udf/heap_array.h"
#include "udf/udf_volume.h"

// True when at least one byte was read; *bytesRead is always written. With wholeSectors set and a
// sector-aligned position the last sector is written whole, so the destination must hold the touched
// sectors in full; otherwise it needs `length` bytes.
bool readFileRange(UdfVolume* volume, const DirectoryNode* node, uint64_t position, void* destination,
                   uint32_t length, uint32_t* bytesRead, uint8_t wholeSectors);

// The whole file on the process heap (free it with heapFree), rounded up to whole sectors; null for a
// directory, an empty file, one above 1 GiB, a refused allocation or a short read.
uint8_t* readWholeFile(UdfVolume* volume, const DirectoryNode* node, uint32_t* size);

constexpr uint64_t kMaxWholeFileSize = 0x40000000;

// Runs of image sectors holding file sectors [first, first + count); fewer sectors when the extents end
// first. With a cursor, the walk starts where the cursor's last read of the same file left off when that lies
// before `first`, and the cursor is moved to the extent that holds the last sector found.
uint32_t collectRuns(const DirectoryNode* node, HeapArray<SectorRun>* runs, uint64_t first, uint32_t count,
                     ExtentCursor* cursor = nullptr);
