// Clip verification: digest every whole unit and compare its last 8 bytes with the table.
#include "aacs/clip_verify.h"

#include <cstring>

#include "aacs/disc_source.h"
#include "aacs/run_reporter.h"
#include "digest/sha.h"

int unitPercent(uint64_t offset, uint64_t clipSize) {
    if (clipSize == 0) return 0;
    return static_cast<int>(static_cast<float>(offset) * 100.0f / static_cast<float>(clipSize));
}

ClipVerdict verdictOf(const ClipResult& result) {
    if (result.skipped) return ClipVerdict::Skipped;
    if (result.mismatchedUnits != 0) return ClipVerdict::Mismatched;
    return result.shortfall == Shortfall::None ? ClipVerdict::Matched : ClipVerdict::Unverified;
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

}  // namespace

ClipResult verifyClip(const ContentIndex& index, uint8_t* unitBuffer, ClipSource* source, const ClipFile& clip,
                      const VerifySettings& settings, RunReporter* reporter) {
    const ContentHashTable* table = index.table();
    const ListedClip* listed = index.find(clip.number);
    ClipResult result;
    result.wholeUnits = clip.size / kHashUnitSize;
    result.listedUnits = listed ? listed->listedUnits : 0;
    // A small clip carries no content hash, unless the table lists more units than it holds: then it is a
    // clip that lost data, verified as far as it goes.
    if (clip.size < kMinHashedClipSize && result.listedUnits <= result.wholeUnits) {
        reporter->clipSkipped(clip);
        result.skipped = true;
        return result;
    }
    if (!source->open()) {
        reporter->clipNotOpened(clip, source->path());
        result.shortfall = Shortfall::NotOpened;
        return result;
    }
    if (!listed) {
        reporter->noHashUnit(clip, 0);
        source->close();
        result.shortfall = Shortfall::NoEntry;
        return result;
    }

    UnitWalk walk(index, *listed);
    uint8_t digest[32];
    for (uint64_t ordinal = 0; ordinal < result.wholeUnits; ++ordinal) {
        uint32_t u = 0;
        if (!walk.next(&u)) {
            reporter->noHashUnit(clip, u);
            result.shortfall = Shortfall::ValuesRanOut;
            break;
        }
        const uint64_t offset = ordinal * kHashUnitSize;
        if (!source->readUnit(ordinal, unitBuffer)) {
            reporter->clipUnreadable(clip, offset);
            result.shortfall = Shortfall::Unreadable;
            break;
        }
        const uint8_t* tail = unitDigestTail(unitBuffer, table->useSha256, digest);
        if (std::memcmp(tail, table->unitHashes[u], kUnitHashBytes) == 0) {
            reporter->unitMatched(clip, offset);
            continue;
        }
        ++result.mismatchedUnits;
        reporter->unitMismatched(clip, offset, table->unitHashes[u], tail);
        if (settings.abortOnMismatch) break;
    }
    source->close();
    if (result.wholeUnits < result.listedUnits) {
        reporter->clipShorter(clip, result.wholeUnits, result.listedUnits);
        if (result.shortfall == Shortfall::None) result.shortfall = Shortfall::Shorter;
    }
    return result;
}
