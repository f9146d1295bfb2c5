// Decoding content certificates and hash tables, and merging them into the run's table.
#include "aacs/content_table.h"

#include <algorithm>
#include <cstring>

#include "io/byte_order.h"
#include "io/heap.h"

namespace {

ContentCertificate decodeCertificate(const uint8_t* p) {
    ContentCertificate c;
    c.CertType = p[0];
    c.BEE = (p[1] & 0x80) ? 1 : 0;
    c.TotalNumberOfHashUnits = readBe32(p + 2);
    c.TotalNumberOfLayers = p[6];
    c.LayerNumber = p[7];
    c.NumberOfHashUnits = readBe32(p + 8);
    c.NumberOfDigests = readBe16(p + 12);
    c.ApplicantID = readBe16(p + 14);
    return c;
}

// Makes an array hold at least `needed` records, doubling its room but never past `limit`; false when the heap
// refuses, the array then kept as it was.
bool reserveRecords(void** array, uint32_t* capacity, uint32_t needed, uint32_t limit, size_t recordBytes) {
    if (needed <= *capacity) return true;
    uint64_t room = std::max<uint64_t>({needed, uint64_t(*capacity) * 2, 64});
    if (room > limit) room = std::max(needed, limit);
    void* grown = heapRealloc(*array, static_cast<size_t>(room) * recordBytes);
    if (!grown) return false;
    *array = grown;
    *capacity = static_cast<uint32_t>(room);
    return true;
}

}  // namespace

bool addContentPair(ContentHashTable* table, const uint8_t* certificate, uint64_t certificateSize,
                    const uint8_t* hashTable, uint64_t hashTableSize, ContentCertificate* merged) {
    if (!certificate || certificateSize < kCertificateBytes) return false;
    if (!hashTable) hashTableSize = 0;
    const ContentCertificate cert = decodeCertificate(certificate);

    // Take only what the file really holds: whole records first, then whole values after all n records.
    uint64_t entryBytes = static_cast<uint64_t>(cert.NumberOfDigests) * kEntryBytes;
    uint32_t n = cert.NumberOfDigests;
    if (hashTableSize < entryBytes) n = static_cast<uint32_t>(hashTableSize / kEntryBytes);
    uint32_t m = 0;
    if (hashTableSize >= entryBytes) {
        uint64_t available = (hashTableSize - entryBytes) / kUnitHashBytes;
        m = available < cert.NumberOfHashUnits ? static_cast<uint32_t>(available) : cert.NumberOfHashUnits;
    }
    bool cut = false;
    if (n > kMaxTableEntries - std::min(table->entryCount, kMaxTableEntries)) {
        n = kMaxTableEntries - std::min(table->entryCount, kMaxTableEntries);
        cut = true;
    }
    if (m > kMaxTableUnits - std::min(table->unitHashCount, kMaxTableUnits)) {
        m = kMaxTableUnits - std::min(table->unitHashCount, kMaxTableUnits);
        cut = true;
    }

    void* entries = table->entries;
    void* values = table->unitHashes;
    if (!reserveRecords(&entries, &table->entryCapacity, table->entryCount + n, kMaxTableEntries,
                        sizeof(ClipHashEntry))) {
        return false;
    }
    table->entries = static_cast<ClipHashEntry*>(entries);
    if (!reserveRecords(&values, &table->unitHashCapacity, table->unitHashCount + m, kMaxTableUnits,
                        kUnitHashBytes)) {
        return false;
    }
    table->unitHashes = static_cast<uint8_t(*)[kUnitHashBytes]>(values);

    table->useSha256 = cert.CertType == 0x10;
    table->present = true;
    table->cut = table->cut || cut;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* record = hashTable + static_cast<size_t>(i) * kEntryBytes;
        table->entries[table->entryCount++] = {readBe32(record), readBe32(record + 4), readBe32(record + 8)};
    }
    if (m > 0) {
        std::memcpy(table->unitHashes[table->unitHashCount], hashTable + entryBytes,
                    static_cast<size_t>(m) * kUnitHashBytes);
        table->unitHashCount += m;
    }
    if (merged) *merged = cert;
    return true;
}

void releaseContentTable(ContentHashTable* table) {
    heapFree(table->entries);
    heapFree(table->unitHashes);
    *table = ContentHashTable{};
}

uint32_t runEnd(const ContentHashTable* table, uint32_t k) {
    uint32_t end = k + 1 < table->entryCount ? table->entries[k + 1].firstUnit : table->unitHashCount;
    return end < table->unitHashCount ? end : table->unitHashCount;
}
