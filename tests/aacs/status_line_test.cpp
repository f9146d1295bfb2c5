// The status line's wording for the figures it is drawn from: percent, gigabytes, speed, time left and clip.
#include <gtest/gtest.h>

#include "aacs/status_reporter.h"

namespace {

TEST(StatusLine, ReadsAsTheFiguresSay) {
    const struct {
        const char* label;
        StatusFigures figures;
        const char* text;
    } cases[] = {
        {"before any speed is known", {0, 800000000, 0, 1, 2, "00001.m2ts"},
         "  0%  0.0 of 0.8 GB  -- MB/s  --:-- left  clip 1 of 2  00001.m2ts"},
        {"under a minute left", {376000000, 800000000, 1507e6, 1, 2, "00001.m2ts"},
         " 47%  0.4 of 0.8 GB  1507 MB/s  0:00 left  clip 1 of 2  00001.m2ts"},
        {"minutes left", {10000000000, 50000000000, 100e6, 3, 9, "00003.m2ts"},
         " 20%  10.0 of 50.0 GB  100 MB/s  6:40 left  clip 3 of 9  00003.m2ts"},
        {"hours left", {0, 50000000000, 10e6, 1, 1, "00800.m2ts"},
         "  0%  0.0 of 50.0 GB  10 MB/s  1:23:20 left  clip 1 of 1  00800.m2ts"},
        // Beyond a hundred hours the figure says nothing useful.
        {"too slow to tell", {0, 50000000000, 1e5, 1, 1, "00800.m2ts"},
         "  0%  0.0 of 50.0 GB  0 MB/s  --:-- left  clip 1 of 1  00800.m2ts"},
        // A clip that grew while it was read never shows more than all of it.
        {"more done than the total", {900, 800, 5e6, 2, 2, "00002.m2ts"},
         "100%  0.0 of 0.0 GB  5 MB/s  0:00 left  clip 2 of 2  00002.m2ts"},
        {"no bytes at all", {0, 0, 0, 1, 1, "00001.m2ts"},
         "100%  0.0 of 0.0 GB  -- MB/s  --:-- left  clip 1 of 1  00001.m2ts"},
        // A name from the disc cannot reach the terminal as a control sequence.
        {"control bytes in the name", {0, 800000000, 0, 1, 1, "\x1b[32m01.m2ts"},
         "  0%  0.0 of 0.8 GB  -- MB/s  --:-- left  clip 1 of 1  \\x1B[32m01.m2ts"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusLineText(c.figures), c.text) << c.label;
    }
}

}  // namespace
