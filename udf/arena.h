// The reader's memory: an Arena freed all at once with the volume, and a GrowBuffer that only grows.
#pragma once

#include <cstdint>

struct UdfVolume;

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

struct LargeBlock;

// What lives as long as the volume: its arena, and the tables too large for one arena block (a VAT of many
// thousand entries), chained from the newest.
struct ArenaHolder {
    Arena* arena;
    LargeBlock* largeBlocks;
};

// Zero-filled memory that lives as long as the volume: from the arena, or for a table larger than an arena
// block from the heap, chained in the holder. Null when either refuses or the volume has no arena.
void* volumeAlloc(UdfVolume* volume, uint64_t bytes);
// Frees the arena, every large table and the holder itself; a null holder is left alone.
void destroyArenaHolder(ArenaHolder* holder);
