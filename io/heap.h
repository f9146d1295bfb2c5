// The process heap: every buffer that crosses a module boundary comes from here and is freed here.
#pragma once

#include <cstddef>

// Null when the heap refuses; heapAllocZeroed hands out cleared memory.
void* heapAlloc(size_t bytes);
void* heapAllocZeroed(size_t bytes);
// Like realloc: on failure the old block is untouched and still owned by the caller.
void* heapRealloc(void* block, size_t bytes);
void heapFree(void* block);
