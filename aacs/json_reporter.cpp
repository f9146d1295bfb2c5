// The JSON Lines report: each object written whole, on one line, as soon as what it says is known.
#include "aacs/json_reporter.h"

#include <cinttypes>
#include <cstdio>

#include "aacs/disc_source.h"
#include "console/console.h"

namespace {

// Length of the well-formed UTF-8 sequence at p (1 to 4), or 0 when the bytes there do not form one.
size_t utf8Sequence(const unsigned char* p) {
    if (p[0] < 0x80) return 1;
    size_t length = 0;
    uint32_t lowest = 0;
    if ((p[0] & 0xE0) == 0xC0) {
        length = 2;
        lowest = 0x80;
    } else if ((p[0] & 0xF0) == 0xE0) {
        length = 3;
        lowest = 0x800;
    } else if ((p[0] & 0xF8) == 0xF0) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    uint32_t code = p[0] & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        // A NUL ends the text, and it fails this test too, so nothing past the end is read.
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not well-formed.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

void appendNumber(std::string* out, const char* key, uint64_t value) {
    char text[48];
    std::snprintf(text, sizeof text, ",\"%s\":%" PRIu64, key, value);
    *out += text;
}

void appendField(std::string* out, const char* key, const char* value) {
    *out += ",\"";
    *out += key;
    *out += "\":";
    appendJsonString(out, value);
}

void appendHex(std::string* out, const char* key, const uint8_t value[8]) {
    char hex[17];
    appendField(out, key, hexString(value, 8, hex));
}

void emit(const std::string& object) { printPlain("%s}\n", object.c_str()); }

const char* shortfallName(Shortfall shortfall) {
    switch (shortfall) {
        case Shortfall::None:
            return "";
        case Shortfall::NotOpened:
            return "not-opened";
        case Shortfall::NoEntry:
            return "no-entry";
        case Shortfall::ValuesRanOut:
            return "values-ran-out";
        case Shortfall::Unreadable:
            return "unreadable";
        case Shortfall::Shorter:
            return "shorter";
        case Shortfall::SharedData:
            return "shared-data";
    }
    return "";
}

const char* verdictName(ClipVerdict verdict) {
    switch (verdict) {
        case ClipVerdict::Matched:
            return "matched";
        case ClipVerdict::Mismatched:
            return "mismatched";
        case ClipVerdict::Unverified:
            return "unverified";
        case ClipVerdict::Skipped:
            return "skipped";
    }
    return "";
}

}  // namespace

void appendJsonString(std::string* out, const char* text) {
    *out += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char c = *p;
        if (c == '"' || c == '\\') {
            *out += '\\';
            *out += static_cast<char>(c);
            ++p;
            continue;
        }
        const size_t length = c < 0x20 || c == 0x7F ? 0 : utf8Sequence(p);
        if (length == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            *out += escaped;
            ++p;
            continue;
        }
        out->append(reinterpret_cast<const char*>(p), length);
        p += length;
    }
    *out += '"';
}

void JsonReporter::runStarted(const char* path) { discPath = path; }

void JsonReporter::runFailed(RunFailure failure) {
    static const char* const kReasons[] = {"not-mounted", "no-content-folder", "no-content-table", "no-memory"};
    std::string object = "{\"type\":\"failure\"";
    appendField(&object, "disc", discPath.c_str());
    appendField(&object, "reason", kReasons[static_cast<int>(failure)]);
    emit(object);
}

void JsonReporter::discNoted(const DiscNote& note) {
    static const char* const kKinds[] = {"reserve-anchor", "reserve-sequence", "vat-before-end"};
    std::string object = "{\"type\":\"note\"";
    appendField(&object, "what", kKinds[static_cast<int>(note.kind)]);
    appendNumber(&object, "sector", note.sector);
    emit(object);
}

void JsonReporter::discDamaged(const DiscDamage& damage) {
    static const char* const kKinds[] = {"table-too-large", "entry-unreadable", "directory-unreadable",
                                         "extents-unreadable", "more", "content-file-unusable", "layers-missing"};
    std::string object = "{\"type\":\"damage\"";
    appendField(&object, "what", kKinds[static_cast<int>(damage.kind)]);
    if (damage.kind == DamageKind::MoreUnrecorded) {
        appendNumber(&object, "count", damage.sector);
    } else if (damage.kind == DamageKind::LayersMissing) {
        appendField(&object, "path", damage.path.c_str());
        appendNumber(&object, "pairs", damage.sector);
        appendNumber(&object, "layers", damage.total);
    } else if (damage.kind == DamageKind::ContentFileUnusable) {
        appendField(&object, "path", damage.path.c_str());
    } else {
        appendField(&object, "path", damage.path.c_str());
        if (damage.kind != DamageKind::TableTooLarge) appendNumber(&object, "sector", damage.sector);
    }
    emit(object);
}

void JsonReporter::verificationStarted(const std::vector<ClipFile>&, bool useSha256) {
    digest = useSha256 ? "SHA-256" : "SHA-1";
}

void JsonReporter::clipStarted(const ClipFile&) {
    mismatches.clear();
    listedMismatches = 0;
    where.clear();
}

void JsonReporter::noHashUnit(const ClipFile&, uint32_t unitIndex) {
    where.clear();
    appendNumber(&where, "noValueAt", unitIndex);
}

void JsonReporter::unitMismatched(const ClipFile&, uint64_t offset, const uint8_t expected[8],
                                  const uint8_t actual[8]) {
    if (listedMismatches == kMaxReportedMismatches) return;
    mismatches += listedMismatches == 0 ? "[{" : ",{";
    char text[40];
    std::snprintf(text, sizeof text, "\"offset\":%" PRIu64, offset);
    mismatches += text;
    appendHex(&mismatches, "expected", expected);
    appendHex(&mismatches, "actual", actual);
    mismatches += '}';
    ++listedMismatches;
}

void JsonReporter::clipSharesData(const ClipFile&, uint32_t sector) {
    where.clear();
    appendNumber(&where, "sharedSector", sector);
}

void JsonReporter::clipUnreadable(const ClipFile&, uint64_t offset) {
    where.clear();
    appendNumber(&where, "unreadableAt", offset);
}

void JsonReporter::clipFinished(const ClipFile& clip, const ClipResult& result) {
    std::string object = "{\"type\":\"clip\"";
    appendField(&object, "name", clip.name.c_str());
    appendNumber(&object, "number", clip.number);
    appendNumber(&object, "size", clip.size);
    appendNumber(&object, "wholeUnits", result.wholeUnits);
    appendNumber(&object, "listedUnits", result.listedUnits);
    appendField(&object, "result", verdictName(verdictOf(result)));
    if (result.shortfall != Shortfall::None) appendField(&object, "reason", shortfallName(result.shortfall));
    object += where;
    if (result.mismatchedUnits != 0) {
        appendNumber(&object, "mismatchedUnits", result.mismatchedUnits);
        object += ",\"mismatches\":" + mismatches + "]";
    }
    emit(object);
}

void JsonReporter::clipMissing(uint32_t clipNumber) {
    char name[32];
    // As the text names it.
    std::snprintf(name, sizeof name, "%05d.m2ts", static_cast<int>(clipNumber));
    std::string object = "{\"type\":\"missing\"";
    appendField(&object, "name", name);
    appendNumber(&object, "number", clipNumber);
    emit(object);
}

void JsonReporter::runFinished(const RunTotals& totals, uint32_t elapsedMilliseconds) {
    std::string object = "{\"type\":\"summary\"";
    appendField(&object, "disc", discPath.c_str());
    appendField(&object, "digest", digest);
    object += runMatched(totals) ? ",\"intact\":true" : ",\"intact\":false";
    appendNumber(&object, "files", totals.totalFiles);
    appendNumber(&object, "matched", totals.matchedFiles);
    appendNumber(&object, "mismatched", totals.mismatchedFiles);
    appendNumber(&object, "mismatchedUnits", totals.mismatchedHashes);
    appendNumber(&object, "unverified", totals.unverifiedFiles);
    appendNumber(&object, "missing", totals.missingFiles);
    appendNumber(&object, "skipped", totals.skippedFiles);
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, ",\"elapsedSeconds\":%.3f", elapsedMilliseconds / 1000.0);
    object += seconds;
    emit(object);
}
