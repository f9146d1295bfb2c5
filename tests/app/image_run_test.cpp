// Whole image runs through the real executable, compared with the same disc as a folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"
#include "tools/udf_image_writer.h"

using testsupport::maskElapsed;
using testsupport::runTamsel;
using testsupport::TempDir;

namespace fs = std::filesystem;

namespace {

void makeImage(const std::string& folder, const std::string& image, UdfImageOptions options = {}) {
    std::string error;
    ASSERT_TRUE(writeUdfImage(folder, image, options, &error)) << error;
}

SampleDisc mixedDisc() {
    SampleDisc disc;
    disc.seed = 5;
    disc.clips = {{"00001.m2ts", 9 * kSampleUnit, 0, 0, true, {}},
                  {"00002.m2ts", 15 * kSampleUnit / 2, 0, 0, true, {1, 4}},
                  {"00003.m2ts", 300000, 0, 0, true, {}},
                  {"00004.m2ts", 8 * kSampleUnit, 0, 0, false, {}}};
    return disc;
}

}  // namespace

TEST(ImageRun, PrintsWhatTheFolderRunPrintsForEveryLayout) {
    TempDir dir;
    testsupport::makeDisc(dir.sub("disc"), mixedDisc());
    const struct {
        const char* label;
        UdfImageOptions options;
    } layouts[] = {
        {"metadata 2.50", {}},
        {"physical 1.02", [] { UdfImageOptions o; o.layout = UdfLayout::Physical102; return o; }()},
        {"virtual 2.01", [] { UdfImageOptions o; o.layout = UdfLayout::Virtual201; return o; }()},
        {"extended entries, long descriptors, split extents", [] {
             UdfImageOptions o;
             o.extendedFileEntries = true;
             o.longAllocationDescriptors = true;
             o.maxExtentBytes = 5 * 2048;
             o.addDeletedEntries = true;
             return o;
         }()},
        {"metadata in two extents, continuation areas", [] {
             UdfImageOptions o;
             o.metadataTwoExtents = true;
             o.continuationArea = true;
             o.embedSmallFiles = true;
             o.maxExtentBytes = 64 * 2048;
             return o;
         }()},
    };
    for (const char* flags : {"-nologo", "-p", "-a"}) {
        auto folder = runTamsel({"-nologo", flags, dir.sub("disc")});
        // 00002.m2ts mismatches, 00004.m2ts has no entry in the table.
        ASSERT_EQ(folder.status, 2);
        for (const auto& layout : layouts) {
            std::string image = dir.sub("disc.img");
            makeImage(dir.sub("disc"), image, layout.options);
            auto r = runTamsel({"-nologo", flags, image});
            EXPECT_EQ(r.status, folder.status) << layout.label << " " << flags;
            EXPECT_EQ(maskElapsed(r.output), maskElapsed(folder.output)) << layout.label << " " << flags;
        }
    }
}

TEST(ImageRun, FilesThatDoNotMount) {
    TempDir dir;
    testsupport::writeFile(dir.path() / "short.img", std::vector<uint8_t>(25 * 2048, 0));
    testsupport::writeFile(dir.path() / "zeros.img", std::vector<uint8_t>(1 << 20, 0));
    testsupport::writeFile(dir.path() / "empty.img", {});
    for (const char* name : {"short.img", "zeros.img", "empty.img", "missing.img"}) {
        auto r = runTamsel({"-nologo", dir.sub(name)});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.output, "Failed to parse UDF file system in " + dir.sub(name) + "!\n") << name;
    }
}

TEST(ImageRun, MissingDirectoriesAndContentFiles) {
    const struct {
        const char* label;
        void (*change)(SampleDisc*);
        void (*damage)(const fs::path& root);
        int status;
        std::string output;
    } cases[] = {
        {"no AACS", [](SampleDisc* d) { d->writeAacs = false; }, [](const fs::path&) {}, 1,
         "AACS directory not present, abort!\n"},
        {"no content pair", [](SampleDisc*) {}, [](const fs::path& r) { fs::remove(r / "AACS" / "Content000.cer"); },
         1, "Content hash table missing, unable to verify integrity of M2TS files.\n"},
        // Every clip the table lists is missing.
        {"no BDMV/STREAM", [](SampleDisc* d) { d->writeStream = false; }, [](const fs::path&) {}, 3,
         "00001.m2ts is missing\n00002.m2ts is missing\n00003.m2ts is missing\n--------------------------------\n"
         "Content hash      : mismatch\nTotal files       : 0\nMatched files     : 0\nMissing files     : 3\n"
         "Time elapsed      : X s\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        SampleDisc disc = mixedDisc();
        c.change(&disc);
        testsupport::makeDisc(dir.sub("disc"), disc);
        c.damage(dir.path() / "disc");
        makeImage(dir.sub("disc"), dir.sub("disc.img"));
        auto r = runTamsel({"-nologo", dir.sub("disc.img")});
        EXPECT_EQ(r.status, c.status) << c.label;
        EXPECT_EQ(maskElapsed(r.output), c.output) << c.label;
    }
}

TEST(ImageRun, OnlyExactClipNamesCount) {
    TempDir dir;
    SampleDisc disc;
    disc.clips = {{"00001.M2TS", 7 * kSampleUnit, 0, 0, true, {}},
                  {"1.m2ts", 7 * kSampleUnit, 0, 0, true, {}},
                  {"00002.fmts", 7 * kSampleUnit, 0, 0, true, {}},
                  {"00003.m2ts", 7 * kSampleUnit, 0, 0, true, {}}};
    testsupport::makeDisc(dir.sub("disc"), disc);
    fs::create_directory(dir.path() / "disc" / "BDMV" / "STREAM" / "00009.m2ts");
    makeImage(dir.sub("disc"), dir.sub("disc.img"));
    auto r = runTamsel({"-nologo", "-v", dir.sub("disc.img")});
    // Clip 1 is listed, but neither file that carries its number has a name the image run takes.
    EXPECT_EQ(r.status, 1);
    std::string out = maskElapsed(r.output);
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "Verify content hash of " + dir.sub("disc.img") + "\n");
    EXPECT_EQ(out.substr(out.find("00002.fmts")),
              "00002.fmts content hash match\n00003.m2ts content hash match\n00001.m2ts is missing\n"
              "--------------------------------\nContent hash      : mismatch\nTotal files       : 2\n"
              "Matched files     : 2\nMissing files     : 1\nTime elapsed      : X s\n");
}

TEST(ImageRun, ClipCutShortByTheEndOfTheImageIsNotCalledIntact) {
    TempDir dir;
    SampleDisc disc;
    disc.clips = {{"00001.m2ts", 20 * kSampleUnit, 0, 0, true, {}}};
    testsupport::makeDisc(dir.sub("disc"), disc);
    makeImage(dir.sub("disc"), dir.sub("disc.img"));
    // The clip's data is the last thing in the image but for a few descriptors: cut into it.
    fs::resize_file(dir.sub("disc.img"), fs::file_size(dir.sub("disc.img")) - 3 * 1024 * 1024);
    auto r = runTamsel({"-nologo", dir.sub("disc.img")});
    EXPECT_EQ(r.status, 1);
    std::string out = maskElapsed(r.output);
    EXPECT_NE(out.find("00001.m2ts cannot be read at offset "), std::string::npos) << out;
    EXPECT_EQ(out.find("content hash match"), std::string::npos) << out;
    EXPECT_NE(out.find("Content hash      : mismatch\n"), std::string::npos) << out;
}
