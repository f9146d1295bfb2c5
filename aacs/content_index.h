// ContentIndex: the table's entries grouped by clip number, built once per run, so that finding a clip, its
// later runs and the values it is listed with costs the same however many entries the table holds.
#pragma once

#include <cstdint>
#include <vector>

#include "aacs/content_table.h"

struct ListedClip {
    uint32_t number;
    // Values its runs cover, summed over its entries; a run whose end lies before its start covers none.
    uint32_t listedUnits;
    uint32_t firstSlot;  // its first entry's place in the index's entry list
    uint32_t entryCount;
};

class ContentIndex {
public:
    explicit ContentIndex(const ContentHashTable* table);

    const ContentHashTable* table() const { return contents; }
    // Null when no entry names this clip number.
    const ListedClip* find(uint32_t number) const;
    // The entries of a listed clip, as indexes into the table's entries, in table order.
    const uint32_t* entriesOf(const ListedClip& clip) const { return slots.data() + clip.firstSlot; }
    // Every listed clip in the order the table first names it.
    const std::vector<uint32_t>& numbersInTableOrder() const { return firstNamed; }

private:
    const ContentHashTable* contents;
    std::vector<ListedClip> clips;  // ascending by number
    std::vector<uint32_t> slots;    // entry indexes, grouped by clip number, table order within a clip
    std::vector<uint32_t> firstNamed;
};

// The values a clip's units are compared with, one after another: its first entry's run, then, whenever a
// run is used up, the next entry of the clip (in table order) whose run starts at or beyond the unit reached.
class UnitWalk {
public:
    UnitWalk(const ContentIndex& index, const ListedClip& clip);
    // The value of the next unit; false when the values ran out, with *value the index at which they did.
    bool next(uint32_t* value);

private:
    const ContentHashTable* table;
    const uint32_t* entries;
    uint32_t entryCount;
    uint32_t slot = 0;
    uint32_t unit = 0;
    uint32_t end = 0;
};
