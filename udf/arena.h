// The reader's memory: an Arena freed all at once with the volume, and a GrowBuffer that only grows.
#pragma once

#include <cstdint>

struct Arena {
    void* firstBlock;
    void* currentBlock;
    uint8_t* next;
    uint32_t remaining;
    uint32_t blockSize;
};

struct GrowBuffer {
    int32_t capacity;
    uint8_t* data;
};

// Bytes at the start of every block that link it to the block taken after it.
constexpr uint32_t kArenaLinkSize = sizeof(void*);

Arena* createArena(uint32_t requestedBlockSize);
// Zero-filled; null for a null arena, a request above a block's usable space, or a refused block.
void* arenaAlloc(Arena* arena, uint32_t bytes);
bool destroyArena(Arena* arena);

// The buffer's data after making it hold at least `bytes`; null when the heap refuses, in which case
// the old block stays in the buffer untouched. A negative request is refused the same way.
uint8_t* reserveBuffer(GrowBuffer* buffer, int32_t bytes);
// reserveBuffer for the unsigned sizes the reader computes; sizes past the signed range are refused.
uint8_t* reserveBytes(GrowBuffer* buffer, uint64_t bytes);

GrowBuffer* createGrowBuffer(int32_t capacity);
void destroyGrowBuffer(GrowBuffer* buffer);
