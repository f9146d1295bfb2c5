// Whole folder runs through the real executable: exact output and exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "io/host_file.h"
#include "tests/support/test_support.h"

using testsupport::maskElapsed;
using testsupport::runTamsel;
using testsupport::TempDir;

namespace fs = std::filesystem;

namespace {

const char kBanner[] = "tamsel 1.2 - M2TS content hash verifier\n";
const char kUsage[] =
    "tamsel - Verify the integrity of M2TS files\nUsage:\n\ttamsel [switch] [disc_root_path]\nSwitch:\n"
    "\t-a      abort on mismatch hash\n\t-h      help\n\t-?      help\n\t-nologo suppress copyright message\n"
    "\t-p      show progress\n\t-tN     hash on N threads (default: one per processor)\n"
    "\t-q      only problems and the summary\n\t-j      JSON Lines report\n\t-v      verbose output\n"
    "Example:\n\ttamsel -v e:\\bd\\avatar\\\n";

SampleDisc threeClipDisc() {
    SampleDisc disc;
    disc.seed = 11;
    disc.clips = {{"00001.m2ts", 1000000, 0, 0, true, {}},
                  {"00002.m2ts", 8 * kSampleUnit, 0, 0, true, {}},
                  {"00003.m2ts", 10 * kSampleUnit, 0, 0, true, {2, 6}}};
    return disc;
}

std::string summary(const std::string& verdict, unsigned total, unsigned matched, const std::string& extra) {
    return "--------------------------------\nContent hash      : " + verdict +
           "\nTotal files       : " + std::to_string(total) + "\nMatched files     : " + std::to_string(matched) +
           "\n" + extra + "Time elapsed      : X s\n";
}

}  // namespace

TEST(CommandLine, UsageBannerAndHelp) {
    const struct {
        std::vector<std::string> args;
        std::string output;
    } cases[] = {
        {{}, kUsage},
        {{"-v"}, std::string(kBanner) + kUsage},
        {{"-nologo"}, kUsage},
        {{"-h", "somewhere"}, kUsage},
        {{"somewhere", "-?"}, kUsage},
    };
    for (const auto& c : cases) {
        auto r = runTamsel(c.args);
        EXPECT_EQ(r.status, 0) << ::testing::PrintToString(c.args);
        EXPECT_EQ(r.output, c.output) << ::testing::PrintToString(c.args);
    }
}

TEST(CommandLine, MissingPathGoesToTheImageRun) {
    TempDir dir;
    std::string missing = dir.sub("no-such-disc");
    auto r = runTamsel({"-nologo", missing});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Failed to parse UDF file system in " + missing + "!\n");
}

TEST(FolderRun, ThreeClipSummaryWithAndWithoutAbort) {
    TempDir dir;
    testsupport::makeDisc(dir.str(), threeClipDisc());
    auto r = runTamsel({dir.str(), "second-path"});
    EXPECT_EQ(r.status, 1);
    // The warning about the second path comes before the banner.
    const std::string head =
        "Warning: only one directory can be verified at a time, \"second-path\" was skipped\n" + std::string(kBanner);
    EXPECT_EQ(r.output.substr(0, head.size()), head);
    std::string body = maskElapsed(r.output.substr(head.size()));
    EXPECT_NE(body.find("00002.m2ts content hash match\n"), std::string::npos) << body;
    EXPECT_NE(body.find("00003.m2ts content hash mismatch at offset 393216 (20%), expected hash="), std::string::npos);
    EXPECT_NE(body.find("00003.m2ts content hash mismatch at offset 1179648 (60%), expected hash="),
              std::string::npos);
    EXPECT_EQ(body.substr(body.find("-----")),
              summary("mismatch", 3, 1, "Mismatched files  : 1\nMismatched hashes : 2\nSkipped files     : 1\n"));

    r = runTamsel({"-nologo", "-a", dir.str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(maskElapsed(r.output), "00002.m2ts content hash match\n00003.m2ts content hash mismatch\n" +
                                         summary("mismatch", 3, 1, "Mismatched files  : 1\nSkipped files     : 1\n"));
}

TEST(FolderRun, VerboseHeadingDumpAndSkipMessage) {
    TempDir dir;
    SampleDisc disc;
    disc.clips = {{"00001.m2ts", 100, 0, 0, true, {}}, {"00002.m2ts", 7 * kSampleUnit, 0, 0, true, {}}};
    testsupport::makeDisc(dir.str(), disc);
    auto r = runTamsel({"-nologo", "-v", dir.str()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskElapsed(r.output),
              "Verify content hash of " + dir.str() +
                  "\n  Layer 1\n\tCertType=16\n\tBEE=0\n\tTotalNumberOfHashUnits=7\n\tTotalNumberOfLayers=1\n"
                  "\tLayerNumber=0\n\tNumberOfHashUnits=7\n\tNumberOfDigests=1\n\tApplicantID=1\n"
                  "\t00000000 00002.m2ts 00000001\n"
                  "00001.m2ts was skipped due to no content hash\n00002.m2ts content hash match\n" +
                  summary("match", 2, 1, "Skipped files     : 1\n"));
}

TEST(FolderRun, ProgressModeOutput) {
    TempDir dir;
    SampleDisc disc;
    disc.clips = {{"00005.m2ts", 7 * kSampleUnit, 0, 0, true, {}}};
    testsupport::makeDisc(dir.str(), disc);
    auto r = runTamsel({"-nologo", "-p", dir.str()});
    std::string want;
    for (int u = 0; u < 7; ++u) {
        want += "00005.m2ts content hash match at offset " + std::to_string(u * 196608) + " (" +
                std::to_string(u * 100 / 7) + "%)\r";
    }
    want += "00005.m2ts content hash match" + std::string(69, ' ') + "\n";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskElapsed(r.output), want + summary("match", 1, 1, ""));
}

TEST(FolderRun, ContentFilePairs) {
    const SampleDisc base = [] {
        SampleDisc d;
        d.pairs = 2;
        d.clips = {{"00001.m2ts", 7 * kSampleUnit, 0, 0, true, {}}, {"00002.m2ts", 7 * kSampleUnit, 0, 1, true, {}}};
        return d;
    }();
    const struct {
        const char* label;
        void (*damage)(const fs::path& aacs);
        int status;
        std::string output;
    } cases[] = {
        {"both pairs", [](const fs::path&) {}, 0,
         "00001.m2ts content hash match\n00002.m2ts content hash match\n" + summary("match", 2, 2, "")},
        {"no AACS folder", [](const fs::path& a) { fs::remove_all(a); }, 1, "AACS directory not present, abort!\n"},
        {"only a hash table",
         [](const fs::path& a) {
             fs::remove(a / "Content000.cer");
         },
         1, "Content hash table missing, unable to verify integrity of M2TS files.\n"},
        // A clip the table has no entry for is not verified, so the disc is not called intact; the pair whose
        // file could not be loaded is named first.
        {"second table missing", [](const fs::path& a) { fs::remove(a / "ContentHash001.tbl"); }, 1,
         "AACS/ContentHash001.tbl: content file could not be loaded\n"
         "00001.m2ts content hash match\nNo hash unit 0/00002/0\n" +
             summary("mismatch", 2, 1, "Unverified files  : 1\n")},
        // The later pair's entries index the merged values from 0, so they find none of their own.
        {"empty first certificate",
         [](const fs::path& a) { testsupport::writeFile(a / "Content000.cer", {}); }, 2,
         "AACS/Content000.cer: content file could not be loaded\nNo hash unit 0/00001/0\nNo hash unit 0/00002/7\n" +
             summary("mismatch", 2, 0, "Unverified files  : 2\n")},
        {"first certificate is a folder",
         [](const fs::path& a) {
             fs::remove(a / "Content000.cer");
             fs::create_directory(a / "Content000.cer");
         },
         2,
         "AACS/Content000.cer: content file could not be loaded\nNo hash unit 0/00001/0\nNo hash unit 0/00002/7\n" +
             summary("mismatch", 2, 0, "Unverified files  : 2\n")},
    };
    for (const auto& c : cases) {
        TempDir dir;
        testsupport::makeDisc(dir.str(), base);
        c.damage(dir.path() / "AACS");
        auto r = runTamsel({"-nologo", dir.str()});
        EXPECT_EQ(r.status, c.status) << c.label;
        EXPECT_EQ(maskElapsed(r.output), c.output) << c.label;
    }
}

TEST(FolderRun, StreamFolderContents) {
    TempDir dir;
    SampleDisc disc;
    disc.clips = {{"00002.M2TS", 7 * kSampleUnit, 0, 0, true, {}},
                  {"00003.fmts", 7 * kSampleUnit, 0, 0, true, {}},
                  {"123456.m2ts", 7 * kSampleUnit, 0, 0, true, {}}};
    testsupport::makeDisc(dir.str(), disc);
    fs::create_directory(dir.path() / "BDMV" / "STREAM" / "00009.m2ts");
    // A root with a trailing separator works like the same root without it. The clips whose files the
    // wildcard does not take are missing, in the order the table lists them.
    auto r = runTamsel({"-nologo", dir.str() + kPathSeparator});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(maskElapsed(r.output), "00002.M2TS content hash match\n00003.m2ts is missing\n123456.m2ts is missing\n" +
                                         summary("mismatch", 2, 1, "Missing files     : 2\nSkipped files     : 1\n"));

    fs::remove_all(dir.path() / "BDMV");
    r = runTamsel({"-nologo", dir.str()});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(maskElapsed(r.output), "00002.m2ts is missing\n00003.m2ts is missing\n123456.m2ts is missing\n" +
                                         summary("mismatch", 0, 0, "Missing files     : 3\n"));
}

TEST(FolderRun, ClipNamesShorterThanThePatternAreVerified) {
    if (testsupport::runningUnderWine()) GTEST_SKIP() << testsupport::kWineShortNameNote;
    TempDir dir;
    SampleDisc disc;
    disc.clips = {{"1.m2ts", 7 * kSampleUnit, 1, 0, true, {}}, {"00002.M2TS", 7 * kSampleUnit, 0, 0, true, {}}};
    testsupport::makeDisc(dir.str(), disc);
    auto r = runTamsel({"-nologo", dir.str()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskElapsed(r.output), "00002.M2TS content hash match\n1.m2ts content hash match\n" +
                                         summary("match", 2, 2, ""));
}

TEST(FolderRun, LongRootPathsAreComposedWhole) {
    TempDir dir;
    std::string root = dir.str();
    while (root.size() < 300) root += kPathSeparator + std::string("deeper-folder-name");
    SampleDisc disc;
    disc.clips = {{"00001.m2ts", 7 * kSampleUnit, 0, 0, true, {}}};
    if (kPathSeparator == '\\') {
        // The ANSI file calls of Windows stop at 260 characters, and the test's own file calls as well, so the
        // disc cannot be made there; such a root fails like any path that cannot be opened, echoed whole.
        auto r = runTamsel({"-nologo", root});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "Failed to parse UDF file system in " + root + "!\n");
        return;
    }
    testsupport::makeDisc(root, disc);
    auto r = runTamsel({"-nologo", root});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskElapsed(r.output), "00001.m2ts content hash match\n" + summary("match", 1, 1, ""));
}
