// Verifying never writes: bytes and modification times stay as they were, and nothing is opened for writing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"
#include "tools/udf_image_writer.h"

using testsupport::runCommand;
using testsupport::runTamsel;
using testsupport::TempDir;

namespace fs = std::filesystem;

namespace {

struct FileState {
    std::vector<uint8_t> bytes;
    fs::file_time_type modified;
};

std::map<std::string, FileState> snapshot(const fs::path& root) {
    std::map<std::string, FileState> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files[entry.path().string()] = {testsupport::readFile(entry.path()), fs::last_write_time(entry.path())};
        }
    }
    return files;
}

void makeReadOnly(const fs::path& root) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        fs::permissions(entry.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
}

}  // namespace

TEST(ReadOnly, FolderAndImageAreLeftAsTheyWere) {
    TempDir dir;
    SampleDisc disc;
    disc.clips = {{"00001.m2ts", 9 * kSampleUnit, 0, 0, true, {3}}, {"00002.m2ts", 7 * kSampleUnit, 0, 0, true, {}}};
    testsupport::makeDisc(dir.sub("disc/folder"), disc);
    std::string error;
    ASSERT_TRUE(writeUdfImage(dir.sub("disc/folder"), dir.sub("disc/disc.img"), UdfImageOptions{}, &error)) << error;
    makeReadOnly(dir.path() / "disc");
    const auto before = snapshot(dir.path() / "disc");

    for (const std::string& target : {dir.sub("disc/folder"), dir.sub("disc/disc.img")}) {
        auto r = runTamsel({"-nologo", "-p", "-v", target});
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_NE(r.output.find("Content hash      : mismatch"), std::string::npos) << r.output;
    }
    const auto after = snapshot(dir.path() / "disc");
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [path, state] : before) {
        EXPECT_TRUE(after.at(path).bytes == state.bytes) << path;
        EXPECT_TRUE(after.at(path).modified == state.modified) << path;
    }
}

TEST(ReadOnly, NoFileIsOpenedForWriting) {
    if (runCommand("strace", {"-V"}).status != 0) GTEST_SKIP() << "strace is not installed";
    TempDir dir;
    SampleDisc disc;
    disc.clips = {{"00001.m2ts", 7 * kSampleUnit, 0, 0, true, {}}};
    testsupport::makeDisc(dir.sub("folder"), disc);
    std::string error;
    ASSERT_TRUE(writeUdfImage(dir.sub("folder"), dir.sub("disc.img"), UdfImageOptions{}, &error)) << error;

    for (const std::string& target : {dir.sub("folder"), dir.sub("disc.img")}) {
        std::string trace = dir.sub("trace.txt");
        // The leak checker refuses to run under a tracer; the sanitizer build checks leaks elsewhere.
        std::vector<std::string> args = {"-f", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0",
                                         "-e", "trace=open,openat,openat2,creat,truncate,ftruncate", "-o", trace};
        for (const std::string& word : testsupport::tamselCommand()) args.push_back(word);
        args.insert(args.end(), {"-nologo", target});
        auto r = runCommand("strace", args);
        ASSERT_EQ(r.status, 0) << target;
        std::ifstream in(trace);
        std::stringstream text;
        text << in.rdbuf();
        const std::string calls = text.str();
        // The run must have opened the disc at all, or the check below would prove nothing.
        EXPECT_NE(calls.find(target), std::string::npos) << calls;
        const char* const writing[] = {"O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "creat(", "truncate("};
        std::istringstream lines(calls);
        for (std::string line; std::getline(lines, line);) {
            if (line.find(dir.str()) == std::string::npos) continue;
            for (const char* flag : writing) EXPECT_EQ(line.find(flag), std::string::npos) << line;
        }
    }
}
