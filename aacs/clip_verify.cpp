// Clip verification: digest every complete unit and compare its last 8 bytes with the table.
#include "aacs/clip_verify.h"

#include <cctype>
#include <cstring>

#include "aacs/options.h"
#include "console/console.h"
#include "digest/sha.h"

bool HostClipSource::open() {
    stream = std::fopen(filePath, "rb");
    if (!stream) return false;
    // Unbuffered, so each unit is one read straight into the caller's buffer.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    return true;
}

bool HostClipSource::readUnit(uint64_t, uint8_t* unit) {
    return stream && std::fread(unit, 1, kHashUnitSize, stream) == kHashUnitSize;
}

void HostClipSource::close() {
    if (stream) std::fclose(stream);
    stream = nullptr;
}

int unitPercent(uint64_t offset, uint64_t clipSize) {
    if (clipSize == 0) return 0;
    return static_cast<int>(static_cast<float>(offset) * 100.0f / static_cast<float>(clipSize));
}

uint32_t clipNumberOf(const char* name) {
    const char* p = name;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t value = 0;
    // Wraps like a 32-bit number instead of overflowing on an absurdly long run of digits.
    for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
    return negative ? 0u - value : value;
}

namespace {

const uint8_t* unitDigestTail(const uint8_t* unit, bool useSha256, uint8_t* digest) {
    if (useSha256) {
        Sha256Context context;
        Sha256Init(&context);
        Sha256Update(&context, unit);
        Sha256Final(&context, digest);
        return digest + 24;
    }
    Sha1HashUnit(unit, digest);
    return digest + 12;
}

// The lowest entry after `after` of this clip whose run starts at or beyond `unit`; entryCount when none.
uint32_t nextRunOf(const ContentHashTable* table, uint32_t after, uint32_t clipNumber, uint32_t unit) {
    for (uint32_t k = after + 1; k < table->entryCount; ++k) {
        if (table->entries[k].clipNumber == clipNumber && table->entries[k].firstUnit >= unit) return k;
    }
    return table->entryCount;
}

}  // namespace

int verifyClip(const ContentHashTable* table, uint8_t* unitBuffer, ClipSource* source, const char* displayName,
               uint32_t clipNumber, bool useSha256, uint64_t clipSize) {
    if (clipSize < kMinHashedClipSize) {
        if (gOptions.verbose) printPlain("%s was skipped due to no content hash\n", displayName);
        return kClipSkipped;
    }
    if (!source->open()) {
        printColored(kColorRed, "cannot open file %s\n", source->path());
        return kClipCannotOpen;
    }
    uint32_t k = 0;
    while (k < table->entryCount && table->entries[k].clipNumber != clipNumber) ++k;
    if (k == table->entryCount) {
        printColored(kColorRed, "No hash unit %d/%05d/%d\n", 0, static_cast<int>(clipNumber), 0);
        source->close();
        return 0;
    }

    uint32_t u = table->entries[k].firstUnit;
    uint32_t e = runEnd(table, k);
    const uint64_t completeUnits = clipSize / kHashUnitSize;
    uint64_t ordinal = 0;
    int mismatches = 0;
    bool allMatched = true;
    bool unreadable = false;
    uint8_t digest[32];

    while (true) {
        if (!source->readUnit(ordinal, unitBuffer)) {
            // Running out of data where the size promises another unit is a failure, not the clip's end.
            unreadable = ordinal < completeUnits;
            break;
        }
        const uint8_t* tail = unitDigestTail(unitBuffer, useSha256, digest);
        if (u >= e) {
            uint32_t next = nextRunOf(table, k, clipNumber, u);
            if (next == table->entryCount) {
                printColored(kColorRed, "No hash unit %d/%05d/%d\n", 0, static_cast<int>(clipNumber),
                             static_cast<int>(u));
                break;
            }
            k = next;
            u = table->entries[k].firstUnit;
            e = runEnd(table, k);
        }
        // A run that starts beyond the loaded values has run out of values like any other.
        if (u >= table->unitHashCount) {
            printColored(kColorRed, "No hash unit %d/%05d/%d\n", 0, static_cast<int>(clipNumber),
                         static_cast<int>(u));
            break;
        }
        const uint64_t offset = ordinal * kHashUnitSize;
        const int percent = unitPercent(offset, clipSize);
        if (std::memcmp(tail, table->unitHashes[u], kUnitHashBytes) == 0) {
            if (gOptions.progress) {
                printColored(kColorGreen, "%s content hash match at offset %" PRIu64 " (%i%%)\r", displayName,
                             offset, percent);
            }
        } else {
            ++mismatches;
            allMatched = false;
            if (gOptions.abortOnMismatch) {
                printColored(kColorRed, "%s content hash mismatch\n", displayName);
                break;
            }
            char expected[2 * kUnitHashBytes + 1];
            printColored(kColorRed, "%s content hash mismatch at offset %" PRIu64 " (%i%%), expected hash=%s\n",
                         displayName, offset, percent, hexString(table->unitHashes[u], kUnitHashBytes, expected));
        }
        ++ordinal;
        ++u;
    }

    source->close();
    if (unreadable) {
        printColored(kColorRed, "%s cannot be read at offset %" PRIu64 "\n", displayName, ordinal * kHashUnitSize);
        return mismatches + 1;
    }
    if (allMatched) {
        if (gOptions.progress) {
            printColored(kColorGreen,
                         "%s content hash match                                                                     \n",
                         displayName);
        } else {
            printColored(kColorGreen, "%s content hash match\n", displayName);
        }
    }
    return mismatches;
}
