// What both sources share: the clip number a file name gives.
#include "aacs/disc_source.h"

#include <cstdio>

uint32_t clipNumberOf(const char* name) {
    const char* p = name;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t value = 0;
    // Wraps like a 32-bit number instead of overflowing on an absurdly long run of digits.
    for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
    return negative ? 0u - value : value;
}

std::string printableName(const char* name) {
    std::string shown;
    for (const char* p = name; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}
