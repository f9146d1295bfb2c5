// The one UTF-16 walk behind disc names and host names: counting and writing UTF-8 go through it alike.
#include "io/utf16.h"

#include <cstddef>

namespace {

enum class Pairing { AsRecorded, ValidOnly };

struct BigEndianUnits {
    const uint8_t* bytes;
    uint32_t at(uint32_t i) const { return (uint32_t(bytes[2 * size_t(i)]) << 8) | bytes[2 * size_t(i) + 1]; }
};

struct NativeUnits {
    const char16_t* units;
    uint32_t at(uint32_t i) const { return units[i]; }
};

// Writes the code point when there is a destination; returns its UTF-8 length either way.
uint32_t putUtf8(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) {
        if (out != nullptr) {
            out[0] = uint8_t(cp);
        }
        return 1;
    }
    if (cp < 0x800) {
        if (out != nullptr) {
            out[0] = uint8_t(0xC0 | (cp >> 6));
            out[1] = uint8_t(0x80 | (cp & 0x3F));
        }
        return 2;
    }
    if (cp < 0x10000) {
        if (out != nullptr) {
            out[0] = uint8_t(0xE0 | (cp >> 12));
            out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            out[2] = uint8_t(0x80 | (cp & 0x3F));
        }
        return 3;
    }
    if (out != nullptr) {
        out[0] = uint8_t(0xF0 | (cp >> 18));
        out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
        out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[3] = uint8_t(0x80 | (cp & 0x3F));
    }
    return 4;
}

// Counts when `destination` is null, so a length and its conversion can never disagree.
template <typename Units>
uint32_t toUtf8(Units units, uint32_t count, Pairing pairing, uint8_t* destination, uint32_t limit) {
    uint32_t written = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (destination != nullptr && written > limit) {
            return 0;
        }
        uint32_t c = units.at(i);
        if (c >= 0xD800 && c <= 0xDFFF) {
            uint32_t d = i + 1 < count ? units.at(i + 1) : 0;
            if (pairing == Pairing::AsRecorded || (c <= 0xDBFF && d >= 0xDC00 && d <= 0xDFFF)) {
                c = 0x10000 + ((c & 0x3FF) << 10) + (d & 0x3FF);
                ++i;
            }
        }
        written += putUtf8(c, destination != nullptr ? destination + written : nullptr);
        if (c == 0) {
            break;
        }
    }
    return written;
}

uint32_t wideLength(const char16_t* name) {
    uint32_t n = 0;
    while (name[n] != 0) {
        ++n;
    }
    return n;
}

}  // namespace

uint32_t utf8Length(const uint8_t* units, uint32_t unitCount) {
    return toUtf8(BigEndianUnits{units}, unitCount, Pairing::AsRecorded, nullptr, 0);
}

uint32_t utf16beToUtf8(const uint8_t* units, uint32_t unitCount, uint8_t* destination, uint32_t limit) {
    return toUtf8(BigEndianUnits{units}, unitCount, Pairing::AsRecorded, destination, limit);
}

uint32_t wideUtf8Length(const char16_t* name) {
    return toUtf8(NativeUnits{name}, wideLength(name), Pairing::ValidOnly, nullptr, 0);
}

uint32_t wideToUtf8(const char16_t* name, uint8_t* destination) {
    return toUtf8(NativeUnits{name}, wideLength(name), Pairing::ValidOnly, destination, UINT32_MAX);
}
