// Console printing: hex text, colour attribute arithmetic and the 64-bit conversion.
#include <gtest/gtest.h>

#include <vector>

#include "console/console.h"
#include "tests/console/console_os_recorder.h"

namespace {

std::vector<uint16_t>& gCalls = gRecordedAttributes;

class ColourCalls : public ::testing::Test {
protected:
    void SetUp() override {
        gCalls.clear();
        saved = gConsole.savedAttributes;
    }
    void TearDown() override { gConsole.savedAttributes = saved; }
    uint16_t saved = 0;
};

}  // namespace

TEST(HexString, UpperCaseHighNibbleFirst) {
    const uint8_t bytes[] = {0x01, 0xAB, 0x00, 0xFF, 0x10, 0x32, 0x54, 0x76};
    char out[17];
    EXPECT_STREQ(hexString(bytes, 8, out), "01AB00FF10325476");
    out[0] = 'x';
    EXPECT_STREQ(hexString(bytes, 0, out), "");
    out[0] = 'x';
    EXPECT_STREQ(hexString(bytes, -3, out), "");
}

TEST_F(ColourCalls, RedOnBlueKeepsBackgroundAndRestores) {
    gConsole.savedAttributes = 0x1F;
    testing::internal::CaptureStdout();
    printColored(kColorRed, "x%d\n", 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "x1\n");
    EXPECT_EQ(gCalls, (std::vector<uint16_t>{0x1C, 0x1F}));
}

TEST_F(ColourCalls, ZeroMakesNoCallAndSevenOnlyRestores) {
    gConsole.savedAttributes = 0x1F;
    testing::internal::CaptureStdout();
    printColored(0, "plain ");
    EXPECT_TRUE(gCalls.empty());
    printColored(7, "restore");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "plain restore");
    EXPECT_EQ(gCalls, (std::vector<uint16_t>{0x1F}));
}

TEST(ColourArithmetic, LowNibbleReplaced) {
    EXPECT_EQ(coloredAttributes(0x1F, kColorRed), 0x1C);
    EXPECT_EQ(coloredAttributes(0x0000, kColorGreen), 0x0A);
    EXPECT_EQ(coloredAttributes(0xF0F7, kColorGreen), 0xF0FA);
}

TEST(FormatString, Unsigned64AndCount) {
    char buffer[64];
    EXPECT_EQ(formatString(buffer, "%" PRIu64 "|%05d|%08x", UINT64_MAX, 12, 0xABCu), 35);
    EXPECT_STREQ(buffer, "18446744073709551615|00012|00000abc");
}

TEST(PrintLine, AddsNewline) {
    testing::internal::CaptureStdout();
    printLine("--------------------------------");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "--------------------------------\n");
}
