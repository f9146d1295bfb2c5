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
    // Reads unit `ordinal` (counted from 0) whole into `unit`; false when not all of it could be read.
    virtual bool readUnit(uint64_t ordinal, uint8_t* unit) = 0;
    virtual void close() = 0;
    // The name "cannot open file" reports.
    virtual const char* path() const = 0;
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

// Compares the clip's whole units with the values the table lists for its number, in the table's digest,
// and reports each problem as it is found.
ClipResult verifyClip(const ContentIndex& index, uint8_t* unitBuffer, ClipSource* source, const ClipFile& clip,
                      const VerifySettings& settings, RunReporter* reporter);
