// Verifying one clip hash unit by hash unit against the content hash table.
#pragma once

#include <cstdint>
#include <cstdio>

#include "aacs/content_table.h"

constexpr uint32_t kHashUnitSize = 196608;
constexpr uint64_t kMinHashedClipSize = 1376256;

constexpr int kClipSkipped = -1;
constexpr int kClipCannotOpen = -2;

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

// A clip file of a disc folder, read front to back through one C stream.
class HostClipSource : public ClipSource {
public:
    explicit HostClipSource(const char* path) : filePath(path) {}
    ~HostClipSource() override { close(); }
    bool open() override;
    bool readUnit(uint64_t ordinal, uint8_t* unit) override;
    void close() override;
    const char* path() const override { return filePath; }

private:
    const char* filePath;
    std::FILE* stream = nullptr;
};

// The percentage a unit's offset is shown with: single precision, truncated, 0 for an empty clip.
int unitPercent(uint64_t offset, uint64_t clipSize);

// Returns kClipSkipped, kClipCannotOpen, 0 (no mismatch) or the number of mismatching units; a clip whose
// size promises a complete unit that cannot be read also counts one more.
int verifyClip(const ContentHashTable* table, uint8_t* unitBuffer, ClipSource* source, const char* displayName,
               uint32_t clipNumber, bool useSha256, uint64_t clipSize);

// The number a clip file's name gives: its leading decimal digits, after optional blanks and a sign.
uint32_t clipNumberOf(const char* name);
