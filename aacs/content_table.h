// The content certificate and content hash table of a disc, merged pair by pair into one table.
#pragma once

#include <cstdint>

struct ClipHashEntry {
    uint32_t firstUnit;
    uint32_t clipNumber;
    uint32_t auxValue;
};

struct ContentCertificate {
    uint8_t CertType;
    uint8_t BEE;
    uint32_t TotalNumberOfHashUnits;
    uint8_t TotalNumberOfLayers;
    uint8_t LayerNumber;
    uint32_t NumberOfHashUnits;
    uint16_t NumberOfDigests;
    uint16_t ApplicantID;
};

constexpr uint32_t kCertificateBytes = 16;
constexpr uint32_t kEntryBytes = 12;
constexpr uint32_t kUnitHashBytes = 8;

// What one run's table may hold at most, far beyond any disc: a 128 GB disc has about 650,000 hash units and
// fewer than 100,000 clips (five-digit names), one entry each per layer. Forged counts, or many pairs naming
// one file, stop here instead of taking gigabytes (32 MiB of values, 12 MiB of entries).
constexpr uint32_t kMaxTableEntries = 1u << 20;
constexpr uint32_t kMaxTableUnits = 1u << 22;
// A content file larger than the largest table the limits allow is not loaded.
constexpr uint64_t kMaxContentFileBytes = uint64_t(kMaxTableUnits) * 8 + 0xFFFFull * 12;

struct ContentHashTable {
    ClipHashEntry* entries;
    uint32_t entryCount;
    uint8_t (*unitHashes)[kUnitHashBytes];
    uint32_t unitHashCount;
    bool useSha256;
    // Set once a pair has been merged, even one that holds no entries or values.
    bool present;
    // Set when a pair listed more entries or values than the table may hold; those were left out.
    bool cut;
    // Records the arrays have room for: they grow by doubling, so many small pairs cost no more than one.
    uint32_t entryCapacity;
    uint32_t unitHashCapacity;
};

// Merges one pair and returns whether it was merged, with its decoded certificate in *merged. Reads never
// go past either buffer: a certificate shorter than 16 bytes is passed over, and a short hash table gives
// only the whole records and values it holds. Entries and values past the table's limits are left out and
// mark it cut. A merge whose arrays cannot be grown is refused whole.
bool addContentPair(ContentHashTable* table, const uint8_t* certificate, uint64_t certificateSize,
                    const uint8_t* hashTable, uint64_t hashTableSize, ContentCertificate* merged);
void releaseContentTable(ContentHashTable* table);

// The end (exclusive) of the run of hash units that entry k owns, never beyond the loaded values.
uint32_t runEnd(const ContentHashTable* table, uint32_t k);
