// The volume's construction, open, mount sequence, volume recognition and destruction.
#include "udf/udf_volume.h"

#include <cstddef>
#include <new>

#include "io/heap.h"
#include "io/image_file.h"
#include "udf/arena.h"
#include "udf/byte_view.h"
#include "udf/directory_tree.h"
#include "udf/identifier_pool.h"
#include "udf/sector_io.h"
#include "udf/volume_descriptors.h"

namespace {

constexpr uint32_t kArenaBlockSize = 0x100000;
constexpr int32_t kScratchSize = 0x8000;
constexpr int32_t kEntryScratchSize = 4096;
constexpr uint32_t kRecognitionFirstSector = 16;
constexpr uint32_t kRecognitionSectors = 10;

// Oversized tables: a link to the one made before, then the table.
struct LargeBlock {
    LargeBlock* previous;
    alignas(8) uint8_t data[8];
};

}  // namespace

UdfVolume::UdfVolume() {
    arena = static_cast<ArenaHolder*>(heapAllocZeroed(sizeof(ArenaHolder)));
    scratch = createGrowBuffer(kScratchSize);
    entryScratch = createGrowBuffer(kEntryScratchSize);
}

UdfVolume::~UdfVolume() {
    if (arena != nullptr) {
        destroyArena(arena->arena);
        heapFree(arena);
        arena = nullptr;
    }
    for (LargeBlock* block = static_cast<LargeBlock*>(largeBlocks); block != nullptr;) {
        LargeBlock* previous = block->previous;
        heapFree(block);
        block = previous;
    }
    largeBlocks = nullptr;
    maps = nullptr;
    destroyGrowBuffer(scratch);
    scratch = nullptr;
    destroyGrowBuffer(entryScratch);
    entryScratch = nullptr;
    heapFree(metadataCache);
    metadataCache = nullptr;
    cacheFirstSector = 0;
    cacheLastSector = 0;
    root = nullptr;
    if (image != nullptr) {
        image->Close();
        delete image;
        image = nullptr;
    }
}

bool UdfVolume::open(const char* path) {
    ImageFile* file = new (std::nothrow) ImageFile();
    if (file == nullptr) {
        return false;
    }
    if (path == nullptr || !file->Open(path)) {
        delete file;
        return false;
    }
    return openDevice(file);
}

bool UdfVolume::openDevice(BlockDevice* device) {
    if (device == nullptr || image != nullptr) {
        delete device;
        return false;
    }
    image = device;
    if (arena == nullptr) {
        return false;
    }
    if (arena->arena == nullptr) {
        arena->arena = createArena(kArenaBlockSize);
    }
    if (arena->arena == nullptr) {
        return false;
    }
    return mount();
}

void* volumeAlloc(UdfVolume* volume, uint64_t bytes) {
    if (volume == nullptr || volume->arena == nullptr || volume->arena->arena == nullptr) {
        return nullptr;
    }
    Arena* arena = volume->arena->arena;
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
    block->previous = static_cast<LargeBlock*>(volume->largeBlocks);
    volume->largeBlocks = block;
    return block->data;
}

bool recognizeVolume(UdfVolume* volume) {
    uint8_t* buffer = reserveBytes(volume->scratch, uint64_t(kRecognitionSectors) * kSectorSize);
    if (buffer == nullptr ||
        readSectors(volume, kRecognitionFirstSector, kRecognitionSectors, buffer) != kRecognitionSectors) {
        return false;
    }
    bool found = false;
    for (uint32_t i = 0; i < kRecognitionSectors; ++i) {
        const uint8_t* descriptor = buffer + size_t(i) * kSectorSize;
        if (matchesIdentifier(descriptor + 1, StandardId::NsrEdition2)) {
            volume->vrsFlags |= kNsrEdition2;
            found = true;
        } else if (matchesIdentifier(descriptor + 1, StandardId::NsrEdition3)) {
            volume->vrsFlags |= kNsrEdition3;
            found = true;
        }
        if (descriptor[6] == 0) {
            break;
        }
    }
    return found;
}

bool UdfVolume::mount() {
    if (image == nullptr || scratch == nullptr || entryScratch == nullptr) {
        return false;
    }
    if (!recognizeVolume(this)) {
        return false;
    }
    ExtentRef* rootExtent = static_cast<ExtentRef*>(volumeAlloc(this, sizeof(ExtentRef)));
    if (rootExtent == nullptr) {
        return false;
    }
    uint32_t rootEntrySector = 0;
    if (!readVolumeDescriptors(this, rootExtent, &rootEntrySector)) {
        return false;
    }
    DirectoryNode* node = static_cast<DirectoryNode*>(volumeAlloc(this, sizeof(DirectoryNode) + 8));
    if (node == nullptr) {
        return false;
    }
    node->name = reinterpret_cast<char*>(node + 1);
    node->parent = node;
    node->isDirectory = 1;
    node->entrySector = rootEntrySector;
    node->dirExtents = rootExtent;
    node->extentCount = 1;
    node->dataLocation = mapBlock(this, rootExtent);
    root = node;
    return buildDirectory(this, rootExtent, 1, node);
}
