// Verifying one clip hash unit by hash unit against the content hash table.
#pragma once

#include <cstdint>

#include "aacs/content_index.h"

constexpr uint32_t kHashUnitSize = 196608;
constexpr uint64_t kMinHashedClipSize = 1376256;

struct ClipFile;
class RunReporter;

// Where a clip's units come from.
class ClipSource {
public:
    virtual ~ClipSource() = default;
    virtual bool open() = 0;
    // Reads `count` units from unit `first` (counted from 0) into `units`, one after another; returns how many
    // were read whole, stopping at the first that could not be.
    virtual uint32_t readUnits(uint64_t first, uint32_t count, uint8_t* units) = 0;
    // Reads the clip's last partial unit, `length` bytes at `offset`, into a buffer of a whole unit; false when
    // not all of it could be read.
    virtual bool readTail(uint64_t offset, uint32_t length, uint8_t* buffer) = 0;
    virtual void close() = 0;
    // The name "cannot open file" reports.
    virtual const char* path() const = 0;
};

// The units of one clip, read and digested, in order: what verification compares. A feed may be served by
// threads that read and hash ahead; verification takes only what it needs and closes the feed.
class UnitFeed {
public:
    virtual ~UnitFeed() = default;
    virtual bool open() = 0;
    virtual const char* path() const = 0;
    // The last 8 bytes of the next unit's digest; false when that unit could not be read whole.
    virtual bool next(uint8_t tail[8]) = 0;
    // Whether the bytes after the last whole unit (`length` of them, at `offset`) can be read: no value covers
    // them, but a clip cut inside them is not whole.
    virtual bool tailReadable(uint64_t offset, uint32_t length) = 0;
    // Done with the clip: whatever was read ahead for it is thrown away.
    virtual void close() = 0;
};

// The last 8 bytes of a unit's digest, SHA-256 or SHA-1.
void unitDigestTail(const uint8_t* unit, bool useSha256, uint8_t tail[8]);

// A feed that reads and digests each unit when it is asked for, on the calling thread, into one unit buffer.
class ReadingFeed : public UnitFeed {
public:
    ReadingFeed(ClipSource* source, uint8_t* unitBuffer, bool useSha256)
        : source(source), unitBuffer(unitBuffer), useSha256(useSha256) {}
    bool open() override { return source->open(); }
    const char* path() const override { return source->path(); }
    bool next(uint8_t tail[8]) override;
    bool tailReadable(uint64_t offset, uint32_t length) override {
        return source->readTail(offset, length, unitBuffer);
    }
    void close() override { source->close(); }

private:
    ClipSource* source;
    uint8_t* unitBuffer;
    bool useSha256;
    uint64_t ordinal = 0;
};

struct VerifySettings {
    bool abortOnMismatch;  // end the clip at its first mismatching unit
};

// Why a clip was not verified to its end; the first of these that happened.
enum class Shortfall : uint8_t {
    None,
    NotOpened,     // the clip could not be opened
    NoEntry,       // the table has no entry for its number
    ValuesRanOut,  // it holds more whole units than its runs give values for
    Unreadable,    // it could not be read to the end its size promises
    Shorter,       // it holds fewer whole units than the table lists
    SharedData,    // its data is another clip's, or repeats itself
};

enum class ClipVerdict : uint8_t { Matched, Mismatched, Unverified, Skipped };

struct ClipResult {
    bool skipped = false;  // below the smallest hashed size, and listed with no more units than it holds
    Shortfall shortfall = Shortfall::None;
    uint32_t mismatchedUnits = 0;
    uint64_t wholeUnits = 0;   // size ÷ 196,608, rounded down
    uint32_t listedUnits = 0;  // what the table lists for its number
};

// Matched only when every unit was compared and matched; a mismatching unit outweighs every shortfall.
ClipVerdict verdictOf(const ClipResult& result);

// The percentage a unit's offset is shown with: single precision, truncated, 0 for an empty clip.
int unitPercent(uint64_t offset, uint64_t clipSize);

// What verifying a clip may ask of its source: whether the source is opened at all, and at most how many units
// are read from it (verification takes fewer when its values run out, a read fails or a mismatch ends it).
struct ClipPlan {
    bool opens;
    uint64_t units;
    uint32_t tailBytes;  // the last partial unit, read for its readability once every whole unit was
};
ClipPlan planClip(const ContentIndex& index, const ClipFile& clip);

// Compares the clip's whole units with the values the table lists for its number, and reports each problem
// as it is found.
ClipResult verifyClip(const ContentIndex& index, UnitFeed* feed, const ClipFile& clip,
                      const VerifySettings& settings, RunReporter* reporter);
