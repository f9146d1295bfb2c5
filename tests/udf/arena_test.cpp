// Arena block sizes, block chaining and zeroed pieces; GrowBuffer reuse and growth.
#include "udf/arena.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct ArenaDeleter {
    void operator()(Arena* arena) const { destroyArena(arena); }
};
using ArenaPtr = std::unique_ptr<Arena, ArenaDeleter>;

TEST(Arena, BlockSizeIsClampedFromTheRequest) {
    const struct {
        uint32_t request;
        uint32_t blockSize;
    } cases[] = {{0, 4096},
                 {100, 1024},
                 {1023, 1024},
                 {1024, 1024},
                 {0x100000, 0x100000},
                 {0x4000000, 0x4000000},
                 {0x4000001, 0x4000000}};
    for (const auto& c : cases) {
        ArenaPtr arena(createArena(c.request));
        ASSERT_NE(arena, nullptr);
        EXPECT_EQ(arena->blockSize, c.blockSize) << "request " << c.request;
        EXPECT_EQ(arena->remaining, c.blockSize - kArenaLinkSize);
    }
}

TEST(Arena, WholeUsableBlockIsServedFromAFreshBlockAndLargerIsRefused) {
    ArenaPtr arena(createArena(0x100000));
    const uint32_t usable = 0x100000 - kArenaLinkSize;
    void* small = arenaAlloc(arena.get(), 16);
    ASSERT_NE(small, nullptr);
    void* firstBlock = arena->currentBlock;
    uint8_t* whole = static_cast<uint8_t*>(arenaAlloc(arena.get(), usable));
    ASSERT_NE(whole, nullptr);
    EXPECT_NE(arena->currentBlock, firstBlock);
    EXPECT_EQ(arena->remaining, 0u);
    whole[0] = 1;
    whole[usable - 1] = 2;  // the sanitizer build catches a piece that overruns its block
    EXPECT_EQ(arenaAlloc(arena.get(), usable + 1), nullptr);
    EXPECT_EQ(arenaAlloc(nullptr, 8), nullptr);
}

TEST(Arena, PieceThatDoesNotFitStartsANewBlockAndLaterPiecesStayThere) {
    ArenaPtr arena(createArena(1024));
    uint8_t* a = static_cast<uint8_t*>(arenaAlloc(arena.get(), 900));
    ASSERT_NE(a, nullptr);
    void* oldBlock = arena->currentBlock;
    uint8_t* b = static_cast<uint8_t*>(arenaAlloc(arena.get(), 200));
    ASSERT_NE(b, nullptr);
    void* newBlock = arena->currentBlock;
    EXPECT_NE(newBlock, oldBlock);
    // The old block's free tail (over 100 bytes) is given up, not reused.
    uint8_t* c = static_cast<uint8_t*>(arenaAlloc(arena.get(), 8));
    EXPECT_EQ(arena->currentBlock, newBlock);
    EXPECT_GE(c, b + 200);
    EXPECT_LT(c, static_cast<uint8_t*>(newBlock) + 1024);
}

TEST(Arena, PiecesAreZeroedAlignedAndDisjoint) {
    ArenaPtr arena(createArena(4096));
    uint8_t* previous = nullptr;
    for (uint32_t size : {1u, 3u, 17u, 8u, 1000u, 5u, 2000u, 7u}) {
        uint8_t* piece = static_cast<uint8_t*>(arenaAlloc(arena.get(), size));
        ASSERT_NE(piece, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(piece) % 8, 0u);
        for (uint32_t i = 0; i < size; ++i) {
            ASSERT_EQ(piece[i], 0) << "piece of " << size;
        }
        if (previous != nullptr) {
            EXPECT_NE(piece, previous);
        }
        std::memset(piece, 0xEE, size);
        previous = piece;
    }
    EXPECT_FALSE(destroyArena(nullptr));
}

TEST(GrowBuffer, ReserveKeepsSmallRequestsAndGrowsKeepingContents) {
    GrowBuffer* buffer = createGrowBuffer(4096);
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(buffer->capacity, 4096);
    for (int i = 0; i < 4096; ++i) {
        ASSERT_EQ(buffer->data[i], 0);
    }
    uint8_t* data = buffer->data;
    EXPECT_EQ(reserveBuffer(buffer, 100), data);
    EXPECT_EQ(reserveBuffer(buffer, 4096), data);
    EXPECT_EQ(buffer->capacity, 4096);
    std::memcpy(buffer->data, "kept", 4);
    uint8_t* grown = reserveBuffer(buffer, 70000);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(buffer->capacity, 70000);
    EXPECT_EQ(std::memcmp(grown, "kept", 4), 0);
    grown[69999] = 1;
    // A refused request leaves the buffer as it was.
    EXPECT_EQ(reserveBuffer(buffer, -1), nullptr);
    EXPECT_EQ(reserveBytes(buffer, 0x80000000ull), nullptr);
    EXPECT_EQ(buffer->data, grown);
    EXPECT_EQ(buffer->capacity, 70000);
    destroyGrowBuffer(buffer);
}

TEST(GrowBuffer, EmptyBufferAllocatesZeroedOnFirstReserve) {
    GrowBuffer* buffer = createGrowBuffer(0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->data, nullptr);
    uint8_t* data = reserveBuffer(buffer, 300);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(buffer->capacity, 300);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(data[i], 0);
    }
    destroyGrowBuffer(buffer);
}

}  // namespace
