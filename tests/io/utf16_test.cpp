// The one UTF-16 conversion: disc names pair surrogates as recorded, host names only as valid pairs.
#include "io/utf16.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string disc(const std::u16string& text) {
    std::vector<uint8_t> units;
    for (char16_t c : text) {
        units.push_back(uint8_t(c >> 8));
        units.push_back(uint8_t(c));
    }
    uint32_t count = uint32_t(text.size());
    std::vector<uint8_t> out(utf8Length(units.data(), count) + 4, 0xCC);
    uint32_t written = utf16beToUtf8(units.data(), count, out.data(), uint32_t(out.size()));
    EXPECT_EQ(written, utf8Length(units.data(), count));
    return std::string(out.begin(), out.begin() + written);
}

std::string host(const std::u16string& text) {
    std::vector<uint8_t> out(wideUtf8Length(text.c_str()) + 4, 0xCC);
    uint32_t written = wideToUtf8(text.c_str(), out.data());
    EXPECT_EQ(written, wideUtf8Length(text.c_str()));
    EXPECT_EQ(out[written], 0xCC);  // nothing past the name, no terminator either
    return std::string(out.begin(), out.begin() + written);
}

TEST(Utf16, DiscNamesPairAsRecordedHostNamesOnlyValidPairs) {
    const struct {
        const char* what;
        std::u16string text;
        std::string disc;
        std::string host;
    } cases[] = {
        {"ascii", u"00001.m2ts", "00001.m2ts", "00001.m2ts"},
        {"two and three bytes", u"\u00e9\u20ac", "\xc3\xa9\xe2\x82\xac", "\xc3\xa9\xe2\x82\xac"},
        {"a valid pair", u"\U0001F600", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        // A high surrogate before an ordinary unit: the disc name swallows the unit, the host name keeps it.
        {"lone high", std::u16string(u"\xd83d") + u"a", "\xf0\x9f\x91\xa1",
         "\xed\xa0\xbd"
         "a"},
        {"lone low", std::u16string(u"\xde00") + u"b", "\xf2\x90\x81\xa2",
         "\xed\xb8\x80"
         "b"},
        {"high at the end", std::u16string(u"c\xd83d"), "c\xf0\x9f\x90\x80", "c\xed\xa0\xbd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(disc(c.text), c.disc);
        EXPECT_EQ(host(c.text), c.host);
    }
}

}  // namespace
