// The volume's construction, destruction and open; the mount itself lives in udf/mount.cpp.
#include "udf/udf_volume.h"

#include <new>

#include "io/heap.h"
#include "io/image_file.h"
#include "udf/arena.h"

namespace {

constexpr uint32_t kArenaBlockSize = 0x100000;
constexpr int32_t kScratchSize = 0x8000;
constexpr int32_t kEntryScratchSize = 4096;

}  // namespace

UdfVolume::UdfVolume() {
    arena = static_cast<ArenaHolder*>(heapAllocZeroed(sizeof(ArenaHolder)));
    scratch = createGrowBuffer(kScratchSize);
    entryScratch = createGrowBuffer(kEntryScratchSize);
}

UdfVolume::~UdfVolume() {
    destroyArenaHolder(arena);
    arena = nullptr;
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
