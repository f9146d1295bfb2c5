// Clip verification: compare the digest of every whole unit with the table's value for it.
#include "aacs/clip_verify.h"

#include <algorithm>
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

void unitDigestTail(const uint8_t* unit, bool useSha256, uint8_t tail[8]) {
    uint8_t digest[32];
    if (useSha256) {
        Sha256Context context;
        Sha256Init(&context);
        Sha256Update(&context, unit);
        Sha256Final(&context, digest);
        std::memcpy(tail, digest + 24, 8);
        return;
    }
    Sha1HashUnit(unit, digest);
    std::memcpy(tail, digest + 12, 8);
}

bool ReadingFeed::next(uint8_t tail[8]) {
    if (source->readUnits(ordinal, 1, unitBuffer) != 1) return false;
    ++ordinal;
    unitDigestTail(unitBuffer, useSha256, tail);
    return true;
}

namespace {

// A small clip carries no content hash, unless the table lists more units than it holds: then it is a clip
// that lost data, verified as far as it goes.
bool isSkipped(const ClipFile& clip, uint32_t listedUnits) {
    return clip.size < kMinHashedClipSize && listedUnits <= clip.size / kHashUnitSize;
}

}  // namespace

ClipPlan planClip(const ContentIndex& index, const ClipFile& clip) {
    const ListedClip* listed = index.find(clip.number);
    if (isSkipped(clip, listed ? listed->listedUnits : 0) || clip.sharesData) return {false, 0, 0};
    if (!listed) return {true, 0, 0};
    // The walk of the clip's runs gives at most the values the table lists for it, so verification never asks
    // for more than this; what it leaves unread is thrown away when it closes the clip. Bounded by the listing,
    // not walked, so that sizes an image claims cost nothing before a read.
    const uint64_t whole = clip.size / kHashUnitSize;
    const uint64_t units = std::min<uint64_t>(whole, listed->listedUnits);
    return {true, units, units == whole ? static_cast<uint32_t>(clip.size % kHashUnitSize) : 0u};
}

ClipResult verifyClip(const ContentIndex& index, UnitFeed* feed, const ClipFile& clip,
                      const VerifySettings& settings, RunReporter* reporter) {
    const ContentHashTable* table = index.table();
    const ListedClip* listed = index.find(clip.number);
    ClipResult result;
    result.wholeUnits = clip.size / kHashUnitSize;
    result.listedUnits = listed ? listed->listedUnits : 0;
    if (isSkipped(clip, result.listedUnits)) {
        reporter->clipSkipped(clip);
        result.skipped = true;
        return result;
    }
    if (clip.sharesData) {
        reporter->clipSharesData(clip, clip.sharedSector);
        result.shortfall = Shortfall::SharedData;
        return result;
    }
    if (!feed->open()) {
        reporter->clipNotOpened(clip, feed->path());
        result.shortfall = Shortfall::NotOpened;
        return result;
    }
    if (!listed) {
        reporter->noHashUnit(clip, 0);
        feed->close();
        result.shortfall = Shortfall::NoEntry;
        return result;
    }

    UnitWalk walk(index, *listed);
    uint64_t ordinal = 0;
    for (; ordinal < result.wholeUnits; ++ordinal) {
        uint32_t u = 0;
        if (!walk.next(&u)) {
            reporter->noHashUnit(clip, u);
            result.shortfall = Shortfall::ValuesRanOut;
            break;
        }
        const uint64_t offset = ordinal * kHashUnitSize;
        uint8_t tail[8];
        if (!feed->next(tail)) {
            reporter->clipUnreadable(clip, offset);
            result.shortfall = Shortfall::Unreadable;
            break;
        }
        if (std::memcmp(tail, table->unitHashes[u], kUnitHashBytes) == 0) {
            reporter->unitMatched(clip, offset);
            continue;
        }
        ++result.mismatchedUnits;
        reporter->unitMismatched(clip, offset, table->unitHashes[u], tail);
        if (settings.abortOnMismatch) break;
    }
    const uint32_t tailBytes = static_cast<uint32_t>(clip.size % kHashUnitSize);
    if (ordinal == result.wholeUnits && tailBytes != 0 &&
        !feed->tailReadable(result.wholeUnits * kHashUnitSize, tailBytes)) {
        reporter->clipUnreadable(clip, result.wholeUnits * kHashUnitSize);
        result.shortfall = Shortfall::Unreadable;
    }
    feed->close();
    if (result.wholeUnits < result.listedUnits) {
        reporter->clipShorter(clip, result.wholeUnits, result.listedUnits);
        if (result.shortfall == Shortfall::None) result.shortfall = Shortfall::Shorter;
    }
    return result;
}
