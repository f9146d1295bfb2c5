// The verdict through the real executable: a copy is called intact only when every clip the table lists is
// there, whole, and verified. Each damage is shown on a folder and on an image of every layout.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/udf_image_writer.h"

using testsupport::maskElapsed;
using testsupport::runTamsel;
using testsupport::TempDir;

namespace fs = std::filesystem;

namespace {

// Clip 1 of ten units, clip 2 of eight, clip 3 of seven: 25 units in all.
SampleDisc threeClips() {
    SampleDisc disc;
    disc.seed = 10;
    disc.clips = {{"00001.m2ts", 10 * kSampleUnit, 0, 0, true, {}},
                  {"00002.m2ts", 8 * kSampleUnit, 0, 0, true, {}},
                  {"00003.m2ts", 7 * kSampleUnit, 0, 0, true, {}}};
    return disc;
}

std::string summary(const std::string& verdict, unsigned total, unsigned matched, const std::string& extra) {
    return "--------------------------------\nContent hash      : " + verdict +
           "\nTotal files       : " + std::to_string(total) + "\nMatched files     : " + std::to_string(matched) +
           "\n" + extra + "Time elapsed      : X s\n";
}

fs::path streamOf(const fs::path& root) { return root / "BDMV" / "STREAM"; }

// The run's output with every mismatch line's expected value replaced by "*", as the values follow the seed.
std::string maskValues(std::string out) {
    const std::string key = "expected hash=";
    for (size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + 1)) {
        out.replace(at + key.size(), 16, "*");
    }
    return maskElapsed(out);
}

struct Target {
    const char* label;
    bool image;
    UdfLayout layout;
};

const Target kTargets[] = {{"folder", false, UdfLayout::Metadata250},
                           {"metadata 2.50 image", true, UdfLayout::Metadata250},
                           {"physical 1.02 image", true, UdfLayout::Physical102},
                           {"virtual 2.01 image", true, UdfLayout::Virtual201}};

// Runs tamsel on the damaged disc as a folder and as an image of every layout; all must print `want`.
void expectEverywhere(const char* label, const SampleDisc& disc, void (*damage)(const fs::path& root),
                      const std::vector<std::string>& flags, int status, const std::string& want) {
    TempDir dir;
    testsupport::makeDisc(dir.sub("disc"), disc);
    damage(dir.path() / "disc");
    for (const Target& target : kTargets) {
        std::string path = dir.sub("disc");
        if (target.image) {
            path = dir.sub("disc.img");
            UdfImageOptions options;
            options.layout = target.layout;
            std::string error;
            ASSERT_TRUE(writeUdfImage(dir.sub("disc"), path, options, &error)) << error;
        }
        std::vector<std::string> args = {"-nologo"};
        args.insert(args.end(), flags.begin(), flags.end());
        args.push_back(path);
        auto r = runTamsel(args);
        EXPECT_EQ(r.status, status) << label << ", " << target.label;
        EXPECT_EQ(maskValues(r.output), want) << label << ", " << target.label;
    }
}

}  // namespace

TEST(Verdict, DamagedCopiesAreNeverCalledIntact) {
    const std::string twoMatch = "00002.m2ts content hash match\n00003.m2ts content hash match\n";
    const struct {
        const char* label;
        SampleDisc disc;
        void (*damage)(const fs::path& root);
        std::vector<std::string> flags;
        int status;
        std::string output;
    } cases[] = {
        {"intact", threeClips(), [](const fs::path&) {}, {}, 0,
         "00001.m2ts content hash match\n" + twoMatch + summary("match", 3, 3, "")},
        // An interrupted copy: the units that are there match, but the clip is not whole.
        {"cut inside a unit", threeClips(),
         [](const fs::path& root) { fs::resize_file(streamOf(root) / "00001.m2ts", 17 * kSampleUnit / 2); }, {}, 1,
         "00001.m2ts is shorter than its content hash table: 8 of 10 hash units\n" + twoMatch +
             summary("mismatch", 3, 2, "Unverified files  : 1\n")},
        {"cut below the smallest hashed size", threeClips(),
         [](const fs::path& root) { fs::resize_file(streamOf(root) / "00001.m2ts", 7 * kSampleUnit / 2); }, {}, 1,
         "00001.m2ts is shorter than its content hash table: 3 of 10 hash units\n" + twoMatch +
             summary("mismatch", 3, 2, "Unverified files  : 1\n")},
        {"a mismatching unit in a cut clip",
         [] {
             SampleDisc d = threeClips();
             d.clips[0].corruptUnits = {2};
             return d;
         }(),
         [](const fs::path& root) { fs::resize_file(streamOf(root) / "00001.m2ts", 8 * kSampleUnit); }, {}, 1,
         "00001.m2ts content hash mismatch at offset 393216 (25%), expected hash=*\n"
         "00001.m2ts is shorter than its content hash table: 8 of 10 hash units\n" +
             twoMatch + summary("mismatch", 3, 2, "Mismatched files  : 1\nMismatched hashes : 1\n")},
        {"a dropped clip", threeClips(), [](const fs::path& root) { fs::remove(streamOf(root) / "00002.m2ts"); }, {},
         1,
         "00001.m2ts content hash match\n00003.m2ts content hash match\n00002.m2ts is missing\n" +
             summary("mismatch", 2, 2, "Missing files     : 1\n")},
        {"no stream folder", threeClips(), [](const fs::path& root) { fs::remove_all(root / "BDMV"); }, {}, 3,
         "00001.m2ts is missing\n00002.m2ts is missing\n00003.m2ts is missing\n" +
             summary("mismatch", 0, 0, "Missing files     : 3\n")},
        {"a clip without an entry",
         [] {
             SampleDisc d = threeClips();
             d.clips[2].inTable = false;
             return d;
         }(),
         [](const fs::path&) {}, {}, 1,
         "00001.m2ts content hash match\n00002.m2ts content hash match\nNo hash unit 0/00003/0\n" +
             summary("mismatch", 3, 2, "Unverified files  : 1\n")},
        // A clip that gained a unit after the table was made: the values run out before its data.
        {"values running out", threeClips(),
         [](const fs::path& root) { fs::resize_file(streamOf(root) / "00003.m2ts", 8 * kSampleUnit); }, {}, 1,
         "00001.m2ts content hash match\n00002.m2ts content hash match\nNo hash unit 0/00003/25\n" +
             summary("mismatch", 3, 2, "Unverified files  : 1\n")},
        // Abort leaves the clip at its first mismatch; the clip's cut still shows.
        {"abort on a cut clip",
         [] {
             SampleDisc d = threeClips();
             d.clips[0].corruptUnits = {2, 4};
             return d;
         }(),
         [](const fs::path& root) { fs::resize_file(streamOf(root) / "00001.m2ts", 8 * kSampleUnit); }, {"-a"}, 1,
         "00001.m2ts content hash mismatch\n"
         "00001.m2ts is shorter than its content hash table: 8 of 10 hash units\n" +
             twoMatch + summary("mismatch", 3, 2, "Mismatched files  : 1\n")},
    };
    for (const auto& c : cases) expectEverywhere(c.label, c.disc, c.damage, c.flags, c.status, c.output);
}

TEST(Verdict, RunsThatVerifyNothingFail) {
    TempDir dir;
    SampleDisc disc = threeClips();
    disc.writeAacs = false;
    testsupport::makeDisc(dir.sub("disc"), disc);
    UdfImageOptions options;
    std::string error;
    ASSERT_TRUE(writeUdfImage(dir.sub("disc"), dir.sub("disc.img"), options, &error)) << error;
    testsupport::writeFile(dir.path() / "zeros.img", std::vector<uint8_t>(1 << 20, 0));
    const struct {
        std::string path;
        std::string output;
    } cases[] = {
        {dir.sub("disc"), "AACS directory not present, abort!\n"},
        {dir.sub("disc.img"), "AACS directory not present, abort!\n"},
        {dir.sub("zeros.img"), "Failed to parse UDF file system in " + dir.sub("zeros.img") + "!\n"},
        {dir.sub("missing.img"), "Failed to parse UDF file system in " + dir.sub("missing.img") + "!\n"},
    };
    for (const auto& c : cases) {
        auto r = runTamsel({"-nologo", c.path});
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_EQ(r.output, c.output) << c.path;
    }
}

// 256 mismatched clips must not read as success where the host keeps only 8 bits of the status. The clips
// are sparse files of seven units whose table values are all zero, so each mismatches at its first unit.
TEST(Verdict, StatusNeverWrapsToSuccess) {
    TempDir dir;
    const uint32_t clips = 256;
    std::vector<uint8_t> certificate = {0x10, 0, 0, 0, 0, 0, 1, 0};
    auto be32 = [](std::vector<uint8_t>& out, uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
    };
    be32(certificate, clips * 7);
    certificate.insert(certificate.end(), {static_cast<uint8_t>(clips >> 8), static_cast<uint8_t>(clips), 0, 0});
    std::vector<uint8_t> table;
    for (uint32_t i = 0; i < clips; ++i) {
        be32(table, i * 7);
        be32(table, i + 1);
        be32(table, 0);
    }
    table.resize(table.size() + clips * 7 * 8, 0);
    testsupport::writeFile(dir.path() / "AACS" / "Content000.cer", certificate);
    testsupport::writeFile(dir.path() / "AACS" / "ContentHash000.tbl", table);
    fs::create_directories(streamOf(dir.path()));
    for (uint32_t i = 1; i <= clips; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%05u.m2ts", i);
        std::ofstream(streamOf(dir.path()) / name).close();
        fs::resize_file(streamOf(dir.path()) / name, 7 * kSampleUnit);
    }
    auto r = runTamsel({"-nologo", "-a", dir.str()});
#ifdef _WIN32
    EXPECT_EQ(r.status, 256);
#else
    EXPECT_EQ(r.status, 255);
#endif
    EXPECT_NE(maskElapsed(r.output).find(summary("mismatch", clips, 0, "Mismatched files  : 256\n")),
              std::string::npos)
        << r.output.substr(r.output.size() - 300);
}
