// The identifier pool and its running-key decipher.
#include "udf/identifier_pool.h"

#include <cstring>

namespace {

struct PoolCall {
    uint32_t first;
    uint32_t second;
    uint32_t third;
};

#include "udf/identifier_pool_data.inc"

constexpr uint8_t kStateMask = 0x32;
constexpr uint8_t kStateEnciphered = 0;
constexpr uint8_t kStateDeciphered = 2;

const PoolCall* callFor(StandardId id) {
    switch (id) {
        case StandardId::NsrEdition2:
            return &kNsrEdition2Call;
        case StandardId::NsrEdition3:
            return &kNsrEdition3Call;
        case StandardId::MetadataPartition:
            return &kMetadataPartitionCall;
        case StandardId::VirtualPartition:
            return &kVirtualPartitionCall;
        case StandardId::SparablePartition:
            return &kSparablePartitionCall;
    }
    return nullptr;
}

}  // namespace

const uint8_t* decipherPoolString(uint32_t first, uint32_t second, uint32_t third) {
    uint32_t offset = first ^ second ^ kPoolConstantA;
    int32_t length = int32_t(second ^ third ^ kPoolConstantB);
    uint16_t key = uint16_t(second ^ kPoolConstantA);
    uint64_t textLength = length > 0 ? uint64_t(length) : 0;
    if (uint64_t(offset) + 2 + textLength > sizeof(identifierPool)) {
        return nullptr;
    }
    uint8_t* entry = identifierPool + offset;
    uint8_t state = uint8_t(entry[0] ^ uint8_t(second) ^ kStateMask);
    if (state == kStateDeciphered) {
        return entry + 2;
    }
    if (state != kStateEnciphered) {
        return nullptr;
    }
    uint8_t* text = entry + 2;
    for (uint64_t i = 0; i < textLength; ++i) {
        uint8_t cipher = text[i];
        text[i] = uint8_t(cipher ^ (key >> 8));
        // The Type 1 font running key: it advances on the enciphered byte, not the plain one.
        key = uint16_t((cipher + key) * 52845u + 22719u);
    }
    entry[0] = uint8_t(uint8_t(second) ^ 0x30);
    return text;
}

const uint8_t* standardIdentifier(StandardId id) {
    const PoolCall* call = callFor(id);
    return call != nullptr ? decipherPoolString(call->first, call->second, call->third) : nullptr;
}

size_t identifierWidth(StandardId id) {
    return id == StandardId::NsrEdition2 || id == StandardId::NsrEdition3 ? 5 : 23;
}

bool matchesIdentifier(const uint8_t* field, StandardId id) {
    const uint8_t* text = standardIdentifier(id);
    return field != nullptr && text != nullptr && std::memcmp(field, text, identifierWidth(id)) == 0;
}

// Declared only for the pool test (tests/udf/identifier_pool_storage.h), which checks that entries are
// deciphered where they lie.
const uint8_t* identifierPoolBytes(size_t* size) {
    if (size != nullptr) {
        *size = sizeof(identifierPool);
    }
    return identifierPool;
}
