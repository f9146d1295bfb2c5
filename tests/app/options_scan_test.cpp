// The switch scan: second character decides, the first other argument is the path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options_scan.h"

namespace {

struct Scan {
    ScanResult result;
    Options options;
    std::string path;
    std::string output;
};

Scan scan(std::vector<std::string> args) {
    args.insert(args.begin(), "tamsel");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    Scan s{};
    const char* path = nullptr;
    testing::internal::CaptureStdout();
    s.result = scanArguments(static_cast<int>(argv.size()), argv.data(), &s.options, &path);
    s.output = testing::internal::GetCapturedStdout();
    s.path = path ? path : "";
    return s;
}

}  // namespace

TEST(OptionsScan, SwitchTable) {
    const struct {
        std::vector<std::string> args;
        bool verbose, progress, noLogo, abort;
        std::string path;
    } cases[] = {
        {{"-v", "disc"}, true, false, false, false, "disc"},
        {{"disc", "-V"}, true, false, false, false, "disc"},
        {{"-verbose", "-progress", "-abort"}, true, true, false, true, ""},
        {{"-P", "-A"}, false, true, false, true, ""},
        {{"-nologo", "disc"}, false, false, true, false, "disc"},
        {{"-NOLOGO"}, false, false, true, false, ""},
        {{"-nologo", "-n"}, false, false, false, false, ""},
        {{"-nologos"}, false, false, false, false, ""},
        {{"-n", "-NoLogo"}, false, false, true, false, ""},
        {{"-x", "disc"}, false, false, false, false, "disc"},
        {{"-", "disc"}, false, false, false, false, "disc"},
    };
    for (const auto& c : cases) {
        Scan s = scan(c.args);
        std::string label = ::testing::PrintToString(c.args);
        EXPECT_EQ(s.result, ScanResult::Run) << label;
        EXPECT_EQ(s.options.verbose, c.verbose) << label;
        EXPECT_EQ(s.options.progress, c.progress) << label;
        EXPECT_EQ(s.options.noLogo, c.noLogo) << label;
        EXPECT_EQ(s.options.abortOnMismatch, c.abort) << label;
        EXPECT_EQ(s.path, c.path) << label;
        EXPECT_EQ(s.output, "") << label;
    }
}

TEST(OptionsScan, HelpStopsTheScanAtOnce) {
    for (const char* help : {"-h", "-H", "-?", "-help"}) {
        Scan s = scan({help, "disc", "-v"});
        EXPECT_EQ(s.result, ScanResult::Help) << help;
        EXPECT_FALSE(s.options.verbose) << help;
    }
    // Warnings for earlier arguments stay.
    Scan s = scan({"a", "b", "-h", "c"});
    EXPECT_EQ(s.result, ScanResult::Help);
    EXPECT_EQ(s.output, "Warning: only one directory can be verified at a time, \"b\" was skipped\n");
}

TEST(OptionsScan, ExtraPathsAreWarnedAboutAndTheFirstKept) {
    Scan s = scan({"first", "second", "-v", "third"});
    EXPECT_EQ(s.path, "first");
    EXPECT_TRUE(s.options.verbose);
    EXPECT_EQ(s.output,
              "Warning: only one directory can be verified at a time, \"second\" was skipped\n"
              "Warning: only one directory can be verified at a time, \"third\" was skipped\n");
}

TEST(OptionsScan, ThreadsQuietAndJson) {
    const struct {
        std::vector<std::string> args;
        unsigned threads;
        bool quiet, json;
    } cases[] = {
        {{"-t1", "disc"}, 1, false, false},
        {{"-T16", "disc"}, 16, false, false},
        {{"-threads", "disc"}, 0, false, false},  // no digits: the run decides
        {{"-t0", "disc"}, 0, false, false},
        {{"-t99999999999999", "disc"}, 9999, false, false},
        {{"-q", "-j", "disc"}, 0, true, true},
        {{"-quiet", "-JSON", "disc"}, 0, true, true},
    };
    for (const auto& c : cases) {
        Scan s = scan(c.args);
        std::string label = ::testing::PrintToString(c.args);
        EXPECT_EQ(s.result, ScanResult::Run) << label;
        EXPECT_EQ(s.options.hashThreads, c.threads) << label;
        EXPECT_EQ(s.options.quiet, c.quiet) << label;
        EXPECT_EQ(s.options.json, c.json) << label;
        EXPECT_EQ(s.path, "disc") << label;
    }
}

TEST(OptionsScan, LongHelpAndVersion) {
    EXPECT_EQ(scan({"disc", "--help", "-v"}).result, ScanResult::Help);
    Scan s = scan({"--version", "disc"});
    EXPECT_EQ(s.result, ScanResult::Version);
    EXPECT_EQ(s.path, "");
    // Any other long form keeps the second-character rule: "--verbose" has '-' there and means nothing.
    s = scan({"--verbose", "disc"});
    EXPECT_EQ(s.result, ScanResult::Run);
    EXPECT_FALSE(s.options.verbose);
}
