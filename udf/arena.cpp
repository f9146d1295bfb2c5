// Arena blocks, the volume's long-lived memory over them, and the growable work buffer, on the heap.
#include "udf/arena.h"

#include <cstddef>
#include <cstring>

#include "io/heap.h"
#include "udf/udf_volume.h"

namespace {

// Pieces hold 64-bit fields and pointers; rounding every piece keeps the next one aligned.
constexpr uint32_t kPieceAlignment = 8;

struct ArenaAllocation {
    Arena header;
    alignas(kPieceAlignment) uint8_t firstBlock[1];
};

constexpr size_t kFirstBlockOffset = offsetof(ArenaAllocation, firstBlock);

void startBlock(Arena* arena, void* block) {
    arena->currentBlock = block;
    arena->next = static_cast<uint8_t*>(block) + kArenaLinkSize;
    arena->remaining = arena->blockSize - kArenaLinkSize;
}

}  // namespace

Arena* createArena(uint32_t requestedBlockSize) {
    uint32_t blockSize = requestedBlockSize;
    if (requestedBlockSize == 0) {
        blockSize = 4096;
    } else if (requestedBlockSize < 1024) {
        blockSize = 1024;
    } else if (requestedBlockSize > 0x4000000) {
        blockSize = 0x4000000;
    }
    void* memory = heapAllocZeroed(kFirstBlockOffset + blockSize);
    if (memory == nullptr) {
        return nullptr;
    }
    Arena* arena = static_cast<Arena*>(memory);
    arena->blockSize = blockSize;
    arena->firstBlock = static_cast<uint8_t*>(memory) + kFirstBlockOffset;
    startBlock(arena, arena->firstBlock);
    return arena;
}

void* arenaAlloc(Arena* arena, uint32_t bytes) {
    if (arena == nullptr || bytes > arena->blockSize - kArenaLinkSize) {
        return nullptr;
    }
    if (bytes > arena->remaining) {
        void* block = heapAllocZeroed(arena->blockSize);
        if (block == nullptr) {
            return nullptr;
        }
        std::memcpy(arena->currentBlock, &block, sizeof(block));
        startBlock(arena, block);
    }
    uint8_t* piece = arena->next;
    // The padding is taken only when it still fits; a piece ending the block needs none after it.
    uint32_t padded = bytes + (kPieceAlignment - 1 - (bytes + kPieceAlignment - 1) % kPieceAlignment);
    uint32_t step = padded <= arena->remaining ? padded : bytes;
    arena->next += step;
    arena->remaining -= step;
    return piece;
}

bool destroyArena(Arena* arena) {
    if (arena == nullptr) {
        return false;
    }
    void* block = nullptr;
    std::memcpy(&block, arena->firstBlock, sizeof(block));
    while (block != nullptr) {
        void* following = nullptr;
        std::memcpy(&following, block, sizeof(following));
        heapFree(block);
        block = following;
    }
    heapFree(arena);
    return true;
}

uint8_t* reserveBuffer(GrowBuffer* buffer, int32_t bytes) {
    if (buffer == nullptr || bytes < 0) {
        return nullptr;
    }
    if (bytes <= buffer->capacity) {
        return buffer->data;
    }
    if (buffer->capacity != 0 && buffer->data != nullptr) {
        void* grown = heapRealloc(buffer->data, size_t(bytes));
        if (grown == nullptr) {
            return nullptr;
        }
        buffer->data = static_cast<uint8_t*>(grown);
    } else {
        heapFree(buffer->data);
        buffer->data = static_cast<uint8_t*>(heapAllocZeroed(size_t(bytes)));
        if (buffer->data == nullptr) {
            buffer->capacity = 0;
            return nullptr;
        }
    }
    buffer->capacity = bytes;
    return buffer->data;
}

uint8_t* reserveBytes(GrowBuffer* buffer, uint64_t bytes) {
    if (bytes > 0x7FFFFFFF) {
        return nullptr;
    }
    return reserveBuffer(buffer, int32_t(bytes));
}

GrowBuffer* createGrowBuffer(int32_t capacity) {
    GrowBuffer* buffer = static_cast<GrowBuffer*>(heapAllocZeroed(sizeof(GrowBuffer)));
    if (buffer != nullptr && capacity > 0) {
        buffer->data = static_cast<uint8_t*>(heapAllocZeroed(size_t(capacity)));
        buffer->capacity = buffer->data != nullptr ? capacity : 0;
    }
    return buffer;
}

void destroyGrowBuffer(GrowBuffer* buffer) {
    if (buffer == nullptr) {
        return;
    }
    heapFree(buffer->data);
    heapFree(buffer);
}

// An oversized table: a link to the one made before, then the table.
struct LargeBlock {
    LargeBlock* previous;
    alignas(8) uint8_t data[8];
};

void* volumeAlloc(UdfVolume* volume, uint64_t bytes) {
    if (volume == nullptr || volume->arena == nullptr || volume->arena->arena == nullptr) {
        return nullptr;
    }
    ArenaHolder* holder = volume->arena;
    Arena* arena = holder->arena;
    if (bytes <= arena->blockSize - kArenaLinkSize) {
        return arenaAlloc(arena, uint32_t(bytes));
    }
    if (bytes > UINT32_MAX) {
        return nullptr;
    }
    LargeBlock* block = static_cast<LargeBlock*>(heapAllocZeroed(offsetof(LargeBlock, data) + size_t(bytes)));
    if (block == nullptr) {
        return nullptr;
    }
    block->previous = holder->largeBlocks;
    holder->largeBlocks = block;
    return block->data;
}

void destroyArenaHolder(ArenaHolder* holder) {
    if (holder == nullptr) {
        return;
    }
    destroyArena(holder->arena);
    for (LargeBlock* block = holder->largeBlocks; block != nullptr;) {
        LargeBlock* previous = block->previous;
        heapFree(block);
        block = previous;
    }
    heapFree(holder);
}
