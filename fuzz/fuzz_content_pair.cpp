// Fuzz target: merge arbitrary certificate and hash-table bytes into a content table, then verify a generated
// clip against it, with the options and the point where the clip stops reading taken from the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "aacs/clip_verify.h"
#include "aacs/console_reporter.h"
#include "aacs/content_index.h"
#include "aacs/content_table.h"
#include "aacs/disc_source.h"
#include "tools/sampledisc.h"

namespace {

// Seven and a half units: the smallest clip that is verified, with a tail that never is.
constexpr uint64_t kClipBytes = kMinHashedClipSize + kHashUnitSize / 2;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The bytes the sample-disc maker writes for the first clip of seed 1, so seeds taken from its discs hold
// the clip's true hash values.
const std::vector<uint8_t>& clipBytes() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(kClipBytes);
        fillClipBytes(1, 0, 0, b.data(), b.size());
        return b;
    }();
    return bytes;
}

class MemoryClip : public ClipSource {
  public:
    explicit MemoryClip(uint64_t failFrom) : failFrom(failFrom) {}
    bool open() override { return true; }
    uint32_t readUnits(uint64_t first, uint32_t count, uint8_t* units) override {
        for (uint32_t i = 0; i < count; ++i) {
            ++reads;
            uint64_t ordinal = first + i;
            uint64_t start = ordinal * kHashUnitSize;
            if (start + kHashUnitSize > clipBytes().size() || ordinal >= failFrom) {
                return i;
            }
            std::memcpy(units + size_t(i) * kHashUnitSize, clipBytes().data() + start, kHashUnitSize);
        }
        return count;
    }
    bool readTail(uint64_t offset, uint32_t length, uint8_t* buffer) override {
        if (offset + length > clipBytes().size() || offset / kHashUnitSize >= failFrom) {
            return false;
        }
        std::memcpy(buffer, clipBytes().data() + offset, length);
        return true;
    }
    void close() override {}
    const char* path() const override { return "00001.m2ts"; }

    uint64_t failFrom;
    uint64_t reads = 0;
};

// Takes a length-prefixed piece (u16 little-endian) off the front of the input.
struct Cursor {
    const uint8_t* data;
    size_t size;
    bool piece(const uint8_t** out, size_t* length) {
        if (size < 2) {
            return false;
        }
        size_t wanted = size_t(data[0]) | (size_t(data[1]) << 8);
        data += 2;
        size -= 2;
        *length = wanted < size ? wanted : size;
        *out = data;
        data += *length;
        size -= *length;
        return true;
    }
};

}  // namespace

// Input: a flags byte (bit 0 verbose, 1 progress, 2 abort on mismatch, 3 the clip claims more than it holds,
// bits 4-7 the unit from which reads fail, 15 for never), then pairs of length-prefixed certificate and hash
// table bytes, at most four pairs.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    uint8_t flags = data[0];
    Options options{};
    options.verbose = (flags & 1) != 0;
    options.progress = (flags & 2) != 0;
    options.abortOnMismatch = (flags & 4) != 0;
    ConsoleReporter reporter(options);
    uint64_t claimed = (flags & 8) != 0 ? kClipBytes + 3 * uint64_t(kHashUnitSize) : kClipBytes;
    uint64_t failFrom = (flags >> 4) == 15 ? UINT64_MAX : uint64_t(flags >> 4);

    ContentHashTable table{};
    Cursor cursor{data + 1, size - 1};
    int pair = 0;
    const uint8_t* certificate = nullptr;
    const uint8_t* hashTable = nullptr;
    size_t certificateSize = 0;
    size_t hashTableSize = 0;
    while (pair < 4 && cursor.piece(&certificate, &certificateSize) && cursor.piece(&hashTable, &hashTableSize)) {
        uint32_t entriesBefore = table.entryCount;
        uint32_t valuesBefore = table.unitHashCount;
        // Copies, so a read past the loaded bytes is one past a heap block of exactly their size.
        std::vector<uint8_t> cer(certificate, certificate + certificateSize);
        std::vector<uint8_t> tbl(hashTable, hashTable + hashTableSize);
        ContentCertificate merged;
        ++pair;
        if (addContentPair(&table, cer.data(), cer.size(), tbl.empty() ? nullptr : tbl.data(), tbl.size(), &merged)) {
            reporter.contentPairMerged(uint32_t(pair), merged, table.entries + entriesBefore,
                                       table.entryCount - entriesBefore);
        }
        check(table.entryCount - entriesBefore <= tbl.size() / kEntryBytes);
        check(table.unitHashCount - valuesBefore <= tbl.size() / kUnitHashBytes);
        check(certificateSize >= kCertificateBytes || (table.entryCount == entriesBefore &&
                                                       table.unitHashCount == valuesBefore));
    }
    for (uint32_t k = 0; k < table.entryCount; ++k) {
        check(runEnd(&table, k) <= table.unitHashCount);
    }

    // The clip number of the first and of the last entry, so both ends of the entry list are reached.
    uint32_t numbers[2] = {1, 1};
    if (table.entryCount > 0) {
        numbers[0] = table.entries[0].clipNumber;
        numbers[1] = table.entries[table.entryCount - 1].clipNumber;
    }
    std::vector<uint8_t> unit(kHashUnitSize);
    const uint64_t completeUnits = claimed / kHashUnitSize;
    const ContentIndex index(&table);
    for (int i = 0; i < (numbers[0] == numbers[1] ? 1 : 2); ++i) {
        MemoryClip clip(failFrom);
        ClipFile file{"00001.m2ts", claimed, numbers[i], true};
        ReadingFeed feed(&clip, unit.data(), table.useSha256);
        ClipResult result = verifyClip(index, &feed, file, VerifySettings{options.abortOnMismatch}, &reporter);
        check(clip.reads <= completeUnits);
        if (options.abortOnMismatch) {
            check(result.mismatchedUnits <= 1);
        }
        // The reader ahead of verification reads what the plan says; verification must never ask for more,
        // and asks for exactly that unless a read failed, its values ran out or a mismatch ended the clip.
        ClipPlan plan = planClip(index, file);
        check(plan.opens == !result.skipped);
        check(clip.reads <= plan.units);
        bool endedEarly = result.shortfall == Shortfall::Unreadable || result.shortfall == Shortfall::ValuesRanOut ||
                          (options.abortOnMismatch && result.mismatchedUnits != 0);
        if (!endedEarly) {
            check(clip.reads == plan.units);
        }
        // Intact only when every whole unit was read and compared and the table lists exactly those.
        if (verdictOf(result) == ClipVerdict::Matched) {
            check(clip.reads == completeUnits && result.listedUnits == completeUnits);
        }
    }
    releaseContentTable(&table);
    return 0;
}
