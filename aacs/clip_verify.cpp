// Clip verification: digest every complete unit and compare its last 8 bytes with the table.
#include "aacs/clip_verify.h"

#include <cstring>

#include "aacs/disc_source.h"
#include "aacs/run_reporter.h"
#include "digest/sha.h"

int unitPercent(uint64_t offset, uint64_t clipSize) {
    if (clipSize == 0) return 0;
    return static_cast<int>(static_cast<float>(offset) * 100.0f / static_cast<float>(clipSize));
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

int verifyClip(const ContentHashTable* table, uint8_t* unitBuffer, ClipSource* source, const ClipFile& clip,
               const VerifySettings& settings, RunReporter* reporter) {
    const uint32_t clipNumber = clip.number;
    const uint64_t clipSize = clip.size;
    if (clipSize < kMinHashedClipSize) {
        reporter->clipSkipped(clip);
        return kClipSkipped;
    }
    if (!source->open()) {
        reporter->clipNotOpened(clip, source->path());
        return kClipCannotOpen;
    }
    uint32_t k = 0;
    while (k < table->entryCount && table->entries[k].clipNumber != clipNumber) ++k;
    if (k == table->entryCount) {
        reporter->noHashUnit(clip, 0);
        source->close();
        return 0;
    }

    uint32_t u = table->entries[k].firstUnit;
    uint32_t e = runEnd(table, k);
    const uint64_t completeUnits = clipSize / kHashUnitSize;
    uint64_t ordinal = 0;
    int mismatches = 0;
    bool unreadable = false;
    uint8_t digest[32];

    while (true) {
        if (!source->readUnit(ordinal, unitBuffer)) {
            // Running out of data where the size promises another unit is a failure, not the clip's end.
            unreadable = ordinal < completeUnits;
            break;
        }
        const uint8_t* tail = unitDigestTail(unitBuffer, table->useSha256, digest);
        if (u >= e) {
            uint32_t next = nextRunOf(table, k, clipNumber, u);
            if (next == table->entryCount) {
                reporter->noHashUnit(clip, u);
                break;
            }
            k = next;
            u = table->entries[k].firstUnit;
            e = runEnd(table, k);
        }
        // A run that starts beyond the loaded values has run out of values like any other.
        if (u >= table->unitHashCount) {
            reporter->noHashUnit(clip, u);
            break;
        }
        const uint64_t offset = ordinal * kHashUnitSize;
        if (std::memcmp(tail, table->unitHashes[u], kUnitHashBytes) == 0) {
            reporter->unitMatched(clip, offset);
        } else {
            ++mismatches;
            reporter->unitMismatched(clip, offset, table->unitHashes[u], tail);
            if (settings.abortOnMismatch) break;
        }
        ++ordinal;
        ++u;
    }

    source->close();
    if (unreadable) {
        reporter->clipUnreadable(clip, ordinal * kHashUnitSize);
        return mismatches + 1;
    }
    if (mismatches == 0) reporter->clipMatched(clip);
    return mismatches;
}
