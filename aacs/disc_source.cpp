// What both sources share: the clip number a file name gives.
#include "aacs/disc_source.h"

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
