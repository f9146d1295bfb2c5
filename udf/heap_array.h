// HeapArray: a growable array of plain records on the process heap, for lists that live for one call.
#pragma once

#include <cstdint>
#include <type_traits>

#include "io/heap.h"

template <typename T>
class HeapArray {
    static_assert(std::is_trivially_copyable<T>::value, "records are moved with realloc");

  public:
    HeapArray() = default;
    ~HeapArray() { heapFree(items); }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;

    // False when the heap refuses; the array then keeps what it held.
    bool push(const T& item) {
        if (count == capacity) {
            uint64_t grown = capacity == 0 ? 16 : uint64_t(capacity) * 2;
            if (grown > UINT32_MAX / sizeof(T)) {
                return false;
            }
            void* block = heapRealloc(items, size_t(grown * sizeof(T)));
            if (block == nullptr) {
                return false;
            }
            items = static_cast<T*>(block);
            capacity = uint32_t(grown);
        }
        items[count++] = item;
        return true;
    }

    T* data() { return items; }
    const T* data() const { return items; }
    uint32_t size() const { return count; }
    T& operator[](uint32_t index) { return items[index]; }

  private:
    T* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
};
