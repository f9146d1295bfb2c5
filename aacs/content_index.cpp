// Grouping the table's entries by clip, and walking a clip's runs of values.
#include "aacs/content_index.h"

#include <algorithm>

ContentIndex::ContentIndex(const ContentHashTable* table) : contents(table) {
    const uint32_t count = table->entryCount;
    slots.resize(count);
    for (uint32_t k = 0; k < count; ++k) slots[k] = k;
    const ClipHashEntry* entries = table->entries;
    std::stable_sort(slots.begin(), slots.end(),
                     [entries](uint32_t a, uint32_t b) { return entries[a].clipNumber < entries[b].clipNumber; });
    for (uint32_t s = 0; s < count;) {
        ListedClip clip{entries[slots[s]].clipNumber, 0, s, 0};
        uint64_t listed = 0;
        for (; s < count && entries[slots[s]].clipNumber == clip.number; ++s) {
            const uint32_t first = entries[slots[s]].firstUnit;
            const uint32_t end = runEnd(table, slots[s]);
            if (end > first) listed += end - first;
            ++clip.entryCount;
        }
        clip.listedUnits = listed < UINT32_MAX ? static_cast<uint32_t>(listed) : UINT32_MAX;
        clips.push_back(clip);
    }
    // The first slot of each clip holds its lowest entry index, the place the table first names it.
    std::vector<const ListedClip*> order;
    order.reserve(clips.size());
    for (const ListedClip& clip : clips) order.push_back(&clip);
    std::sort(order.begin(), order.end(),
              [this](const ListedClip* a, const ListedClip* b) { return slots[a->firstSlot] < slots[b->firstSlot]; });
    firstNamed.reserve(order.size());
    for (const ListedClip* clip : order) firstNamed.push_back(clip->number);
}

const ListedClip* ContentIndex::find(uint32_t number) const {
    auto it = std::lower_bound(clips.begin(), clips.end(), number,
                               [](const ListedClip& clip, uint32_t n) { return clip.number < n; });
    return it != clips.end() && it->number == number ? &*it : nullptr;
}

UnitWalk::UnitWalk(const ContentIndex& index, const ListedClip& clip)
    : table(index.table()), entries(index.entriesOf(clip)), entryCount(clip.entryCount) {
    unit = table->entries[entries[0]].firstUnit;
    end = runEnd(table, entries[0]);
}

bool UnitWalk::next(uint32_t* value) {
    // A run that covers nothing (its end at or before its start) gives no value and is passed over like a
    // used-up one, so that a walk never gives more values than the clip's listed units.
    while (unit >= end) {
        // Slots only move forward, so a clip's whole walk looks at each of its entries once at most.
        uint32_t s = slot + 1;
        while (s < entryCount && table->entries[entries[s]].firstUnit < unit) ++s;
        if (s == entryCount) {
            *value = unit;
            return false;
        }
        slot = s;
        unit = table->entries[entries[s]].firstUnit;
        end = runEnd(table, entries[s]);
        // A run that starts beyond the loaded values has run out of values like any other.
        if (unit >= table->unitHashCount) break;
    }
    *value = unit;
    if (unit >= table->unitHashCount) return false;
    ++unit;
    return true;
}
