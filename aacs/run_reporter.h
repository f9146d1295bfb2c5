// RunReporter: every message of a run, as events, so that one run serves every way of reporting it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "aacs/clip_verify.h"
#include "aacs/content_table.h"
#include "aacs/run_summary.h"

struct ClipFile;

// Why a run verified nothing.
enum class RunFailure : uint8_t {
    NotMounted,      // the path is no folder and no image that mounts
    NoContentFolder, // no AACS folder
    NoContentTable,  // no content certificate and hash table pair could be merged
    NoMemory,        // no buffer for the units
};

// A structure of the disc that could not be read or used whole. What it hid is reported by the verdict (missing
// or unverified clips); the damage itself keeps the run from calling the disc intact.
enum class DamageKind : uint8_t {
    TableTooLarge,        // the content hash table lists more than the disc can hold
    EntryUnreadable,      // a file entry
    DirectoryUnreadable,  // a directory's data
    ExtentsUnreadable,    // a continuation area of a file's allocation descriptors
    MoreUnrecorded,       // more structures past those named; `sector` holds their count, `path` is empty
    ContentFileUnusable,  // a content certificate or hash table that exists (or whose partner does) and could
                          // not be loaded or merged: the clips of its layer are listed nowhere
    LayersMissing,        // fewer pairs were merged (`sector`) than the certificates name layers (`total`)
};

struct DiscDamage {
    DamageKind kind;
    std::string path;  // inside the disc, "BDMV/STREAM/" style; a directory ends in '/'
    uint32_t sector;
    uint32_t total = 0;
};

// A reserve structure the mount used because the main one was unreadable or unusable: said, not counted.
enum class NoteKind : uint8_t {
    ReserveAnchor,    // `sector`: the anchor used instead of the one at sector 256
    ReserveSequence,  // `sector`: first sector of the reserve volume descriptor sequence
    VatBeforeEnd,     // `sector`: the VAT's file entry, found before the image's last sector
};

struct DiscNote {
    NoteKind kind;
    uint32_t sector;
};

class RunReporter {
public:
    virtual ~RunReporter() = default;

    virtual void runStarted(const char* discPath) = 0;
    virtual void runFailed(RunFailure failure) = 0;
    virtual void contentPairMerged(uint32_t pairNumber, const ContentCertificate& certificate,
                                   const ClipHashEntry* entries, uint32_t entryCount) = 0;
    virtual void discNoted(const DiscNote& note) = 0;
    virtual void discDamaged(const DiscDamage& damage) = 0;
    // The stream folder's entries (those not kept are neither verified nor counted), before the first clip.
    virtual void verificationStarted(const std::vector<ClipFile>& clips, bool useSha256) = 0;

    virtual void clipStarted(const ClipFile& clip) = 0;
    // A clip below the smallest hashed size.
    virtual void clipSkipped(const ClipFile& clip) = 0;
    virtual void clipNotOpened(const ClipFile& clip, const char* path) = 0;
    // Its data at `sector` is an earlier clip's, or an earlier part of its own: it is not hashed again.
    virtual void clipSharesData(const ClipFile& clip, uint32_t sector) = 0;
    // No value for the clip: unitIndex is 0 when it has no entry, else where its values ran out.
    virtual void noHashUnit(const ClipFile& clip, uint32_t unitIndex) = 0;
    virtual void unitMatched(const ClipFile& clip, uint64_t offset) = 0;
    virtual void unitMismatched(const ClipFile& clip, uint64_t offset, const uint8_t expected[8],
                                const uint8_t actual[8]) = 0;
    virtual void clipUnreadable(const ClipFile& clip, uint64_t offset) = 0;
    virtual void clipShorter(const ClipFile& clip, uint64_t wholeUnits, uint32_t listedUnits) = 0;
    // The clip is done: every message of it has been reported.
    virtual void clipFinished(const ClipFile& clip, const ClipResult& result) = 0;
    // A clip the table lists that no clip file carried; after the last clip.
    virtual void clipMissing(uint32_t clipNumber) = 0;

    virtual void runFinished(const RunTotals& totals, uint32_t elapsedMilliseconds) = 0;
};
