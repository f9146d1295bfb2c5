// Verifying one clip hash unit by hash unit against the content hash table.
#pragma once

#include <cstdint>

#include "aacs/content_table.h"

constexpr uint32_t kHashUnitSize = 196608;
constexpr uint64_t kMinHashedClipSize = 1376256;

constexpr int kClipSkipped = -1;
constexpr int kClipCannotOpen = -2;

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

// The percentage a unit's offset is shown with: single precision, truncated, 0 for an empty clip.
int unitPercent(uint64_t offset, uint64_t clipSize);

// Returns kClipSkipped, kClipCannotOpen, 0 (no mismatch) or the number of mismatching units; a clip whose
// size promises a complete unit that cannot be read also counts one more. The digest is the table's.
int verifyClip(const ContentHashTable* table, uint8_t* unitBuffer, ClipSource* source, const ClipFile& clip,
               const VerifySettings& settings, RunReporter* reporter);
