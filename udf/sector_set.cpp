// The open-addressing sector set behind the tree's visited directories and the continuation guard.
#include "udf/sector_set.h"

#include <cstddef>

#include "io/heap.h"

namespace {

constexpr uint32_t kFirstCapacity = 64;

uint32_t slotOf(uint64_t key, uint32_t capacity) {
    return uint32_t(key * 2654435761u) & (capacity - 1);
}

}  // namespace

SectorSet::~SectorSet() {
    heapFree(slots);
}

bool SectorSet::insert(uint32_t sector) {
    if (count >= limit) {
        return false;
    }
    if ((uint64_t(count) + 1) * 2 > capacity && !grow()) {
        return false;
    }
    uint64_t key = uint64_t(sector) + 1;
    for (uint32_t i = slotOf(key, capacity);; i = (i + 1) & (capacity - 1)) {
        if (slots[i] == key) {
            return false;
        }
        if (slots[i] == 0) {
            slots[i] = key;
            ++count;
            return true;
        }
    }
}

bool SectorSet::grow() {
    uint64_t grown = capacity == 0 ? kFirstCapacity : uint64_t(capacity) * 2;
    if (grown > (uint64_t(1) << 31)) {
        return false;
    }
    uint32_t newCapacity = uint32_t(grown);
    uint64_t* fresh = static_cast<uint64_t*>(heapAllocZeroed(size_t(newCapacity) * sizeof(uint64_t)));
    if (fresh == nullptr) {
        return false;
    }
    for (uint32_t i = 0; i < capacity; ++i) {
        if (slots[i] == 0) {
            continue;
        }
        uint32_t j = slotOf(slots[i], newCapacity);
        while (fresh[j] != 0) {
            j = (j + 1) & (newCapacity - 1);
        }
        fresh[j] = slots[i];
    }
    heapFree(slots);
    slots = fresh;
    capacity = newCapacity;
    return true;
}
