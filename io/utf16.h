// UTF-16 to UTF-8, for the names a disc records and the wide names handed to the host.
#pragma once

#include <cstdint>

// Disc names: big-endian units as UDF records them. A surrogate takes the unit after it as its partner,
// whatever that unit is (the last unit pairs with 0), since the reader keeps names as recorded rather than
// repairing them. A zero unit ends the name and is counted.
uint32_t utf8Length(const uint8_t* units, uint32_t unitCount);
// The bytes written, or 0 once they passed `limit` before a unit, so the destination needs limit + 4 bytes.
uint32_t utf16beToUtf8(const uint8_t* units, uint32_t unitCount, uint8_t* destination, uint32_t limit);

// Host names: a zero-terminated native string. Only a high surrogate followed by a low one makes a pair;
// any other surrogate is written on its own, so every wide name has one narrow form. Neither counts nor
// writes the terminating zero.
uint32_t wideUtf8Length(const char16_t* name);
uint32_t wideToUtf8(const char16_t* name, uint8_t* destination);
