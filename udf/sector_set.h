// SectorSet: the image sectors a walk has met, so that data named twice or in a loop is followed once.
#pragma once

#include <cstdint>

// Open addressing on the process heap, never more than half full; it grows from nothing on the first insert.
class SectorSet {
  public:
    explicit SectorSet(uint32_t limit = UINT32_MAX) : limit(limit) {}
    ~SectorSet();
    SectorSet(const SectorSet&) = delete;
    SectorSet& operator=(const SectorSet&) = delete;

    // True when the sector was not in the set and now is. False when it was, and also when the set already
    // holds `limit` sectors or cannot grow: a walk then treats the sector as met and goes no further.
    bool insert(uint32_t sector);

  private:
    bool grow();

    uint64_t* slots = nullptr;  // sector + 1, so every sector has a key and 0 marks a free slot
    uint32_t capacity = 0;
    uint32_t count = 0;
    uint32_t limit;
};
