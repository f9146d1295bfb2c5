// The standard identifiers the reader compares, kept enciphered at rest and deciphered on first use.
#pragma once

#include <cstddef>
#include <cstdint>

enum class StandardId : uint8_t {
    NsrEdition2,
    NsrEdition3,
    MetadataPartition,
    VirtualPartition,
    SparablePartition,
};

// The entry chosen by three call values, deciphered in place if it is not yet; null for a state byte
// that reads neither "enciphered" nor "deciphered", or for an entry that would lie outside the pool.
const uint8_t* decipherPoolString(uint32_t first, uint32_t second, uint32_t third);

// The identifier's text over its fixed width (identifierWidth bytes, zero-padded), or null.
const uint8_t* standardIdentifier(StandardId id);
size_t identifierWidth(StandardId id);
// Whether `field` (at least identifierWidth bytes) holds the identifier.
bool matchesIdentifier(const uint8_t* field, StandardId id);
