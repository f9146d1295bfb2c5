// The host layer's contract: the same answers on every host.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "io/directory_scan.h"
#include "io/heap.h"
#include "io/host_file.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;
using testsupport::writeFile;

TEST(PathHelpers, DirectoriesFilesAndMissingPaths) {
    TempDir dir;
    writeFile(dir.path() / "file.bin", {1, 2, 3});
    EXPECT_TRUE(IsDirectory(dir.str().c_str()));
    EXPECT_TRUE(PathExists(dir.str().c_str()));
    EXPECT_FALSE(IsDirectory(dir.sub("file.bin").c_str()));
    EXPECT_TRUE(PathExists(dir.sub("file.bin").c_str()));
    EXPECT_FALSE(IsDirectory(dir.sub("missing").c_str()));
    EXPECT_FALSE(PathExists(dir.sub("missing").c_str()));
}

TEST(LoadWholeFile, BufferCarriesTwoNulsAndEmptyOrMissingGiveNothing) {
    TempDir dir;
    writeFile(dir.path() / "three", {'a', 'b', 'c'});
    writeFile(dir.path() / "empty", {});
    uint64_t size = 99;
    uint8_t* buffer = LoadWholeFile(dir.sub("three").c_str(), &size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{'a', 'b', 'c', 0, 0}));
    heapFree(buffer);

    for (const char* name : {"empty", "missing"}) {
        size = 99;
        EXPECT_EQ(LoadWholeFile(dir.sub(name).c_str(), &size), nullptr) << name;
        EXPECT_EQ(size, 0u) << name;
    }
    // A directory is not a file to load.
    size = 99;
    EXPECT_EQ(LoadWholeFile(dir.str().c_str(), &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST(HostFile, ReadsAcrossTheEndSeekAndSize) {
    TempDir dir;
    std::vector<uint8_t> bytes(4096);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    writeFile(dir.path() / "f", bytes);

    HostFile file;
    ASSERT_TRUE(file.Open(dir.sub("f").c_str()));
    EXPECT_EQ(file.Size(), 4096u);
    EXPECT_EQ(file.Seek(2048, kSeekBegin), 2048u);
    std::vector<uint8_t> out(2500, 0xEE);
    EXPECT_EQ(file.Read(out.data(), 2500), 2048u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 2048, bytes.begin() + 2048));
    EXPECT_EQ(out[2048], 0xEE);  // nothing written past what was delivered
    EXPECT_EQ(file.Read(out.data(), 10), 0u);
    EXPECT_EQ(file.Read(out.data(), 0), 0u);
    file.Close();
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Read(out.data(), 10), 0u);
    EXPECT_EQ(file.Size(), 0u);
}

TEST(HostFile, FailedOpensLeaveNothingOpen) {
    TempDir dir;
    HostFile file;
    EXPECT_FALSE(file.Open(dir.sub("missing").c_str()));
    EXPECT_FALSE(file.Open(dir.str().c_str()));
    EXPECT_FALSE(file.IsOpen());
    uint8_t byte = 0;
    EXPECT_EQ(file.Read(&byte, 1), 0u);
}

// What an open admits: regular files always; anything that is no file, whose open or read might wait for
// ever, never, and at once.
TEST(HostFile, OnlyFilesOpenAndNothingElseIsWaitedOn) {
    TempDir dir;
    writeFile(dir.path() / "file.bin", {1, 2, 3});
    testsupport::NonFilePath pipe(dir);
    ASSERT_FALSE(pipe.path().empty());
    const struct {
        const char* what;
        std::string path;
        bool opens;
    } cases[] = {
        {"regular file", dir.sub("file.bin"), true},
        {"pipe without a writer", pipe.path(), false},
        {"character device", testsupport::characterDevicePath(), false},
        {"directory", dir.str(), false},
    };
    for (const auto& c : cases) {
        for (uint32_t flags : {0u, kOpenRegularOnly, kOpenShareWriters, kOpenRegularOnly | kOpenShareWriters}) {
            SCOPED_TRACE(std::string(c.what) + " flags " + std::to_string(flags));
            HostFile file;
            EXPECT_EQ(file.Open(c.path.c_str(), flags), c.opens);
            EXPECT_EQ(file.IsOpen(), c.opens);
        }
        uint64_t size = 99;
        uint8_t* loaded = LoadWholeFile(c.path.c_str(), &size);
        EXPECT_EQ(loaded != nullptr, c.opens) << c.what;
        EXPECT_EQ(size, c.opens ? 3u : 0u) << c.what;
        heapFree(loaded);
    }
}

TEST(HostFile, ReadsWholeWhatTheOpenedFileHolds) {
    // After an open without blocking, reads block as usual: one call delivers a large count whole.
    TempDir dir;
    std::vector<uint8_t> bytes(3 << 20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + (i >> 16));
    writeFile(dir.path() / "large", bytes);
    HostFile file;
    ASSERT_TRUE(file.Open(dir.sub("large").c_str(), kOpenRegularOnly | kOpenShareWriters));
    std::vector<uint8_t> out(bytes.size());
    EXPECT_EQ(file.Read(out.data(), static_cast<uint32_t>(out.size())), out.size());
    EXPECT_EQ(out, bytes);
}

TEST(HostFile, SharedWithWritersOpensAFileStillBeingWritten) {
    TempDir dir;
    std::string path = dir.sub("copying.m2ts");
    std::ofstream writer(path, std::ios::binary);
    writer << "partial";
    writer.flush();
    HostFile file;
    ASSERT_TRUE(file.Open(path.c_str(), kOpenRegularOnly | kOpenShareWriters));
    char out[8] = {};
    EXPECT_EQ(file.Read(out, sizeof(out)), 7u);
    EXPECT_STREQ(out, "partial");
}

TEST(LoadWholeFile, FileAboveTheCallersLimitIsNotLoaded) {
    TempDir dir;
    writeFile(dir.path() / "hundred", std::vector<uint8_t>(100, 7));
    const struct {
        uint64_t limit;
        bool loads;
    } cases[] = {{99, false}, {100, true}, {0, false}, {kLoadWholeFileLimit, true}, {UINT64_MAX, true}};
    for (const auto& c : cases) {
        uint64_t size = 99;
        uint8_t* buffer = LoadWholeFile(dir.sub("hundred").c_str(), &size, c.limit);
        EXPECT_EQ(buffer != nullptr, c.loads) << c.limit;
        EXPECT_EQ(size, c.loads ? 100u : 0u) << c.limit;
        heapFree(buffer);
    }
}

TEST(HostFile, WideNamesReachTheSameFile) {
    TempDir dir;
    writeFile(dir.path() / "wide.bin", {9, 8, 7});
    std::u16string wide;
    for (char c : dir.sub("wide.bin")) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
    HostFile file;
    ASSERT_TRUE(file.OpenWide(wide.c_str()));
    EXPECT_EQ(file.Size(), 3u);
}

TEST(Wildcard, WindowsRulesForClipNames) {
    struct Case {
        const char* name;
        bool matches;
    } cases[] = {
        {"00001.m2ts", true}, {"00001.M2TS", true}, {"1.m2ts", true},     {".m2ts", true},
        {"abcde.m2ts", true}, {"123456.m2ts", false}, {"00001.fmts", false}, {"00001.m2tsx", false},
        {"a.b.m2ts", false},  {"00001.m2t", false},   {"00001m2ts", false},  {"0001.m2ts.bak", false},
    };
    for (const Case& c : cases) EXPECT_EQ(WildcardMatches("?????.m2ts", c.name), c.matches) << c.name;
}

namespace {

struct Found {
    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
};

Found scanClips(const TempDir& dir) {
    DirectoryScan scan;
    FindEntry entry;
    Found found;
    std::string pattern = dir.str() + kPathSeparator + "?????.m2ts";
    for (bool ok = scan.First(pattern.c_str(), &entry); ok; ok = scan.Next(&entry)) {
        found.names.push_back(entry.name);
        found.sizes.push_back((static_cast<uint64_t>(entry.sizeHigh) << 32) | entry.sizeLow);
    }
    return found;
}

}  // namespace

TEST(DirectoryScan, MatchesCaseInsensitivelyInUpperCaseOrderWithDirectoriesAtSizeZero) {
    TempDir dir;
    writeFile(dir.path() / "bbbbb.m2ts", std::vector<uint8_t>(10));
    writeFile(dir.path() / "AAAAA.M2TS", std::vector<uint8_t>(20));
    writeFile(dir.path() / "_xxxx.m2ts", std::vector<uint8_t>(5));
    writeFile(dir.path() / "00002.m2ts", std::vector<uint8_t>(30));
    writeFile(dir.path() / "000001.m2ts", std::vector<uint8_t>(1));
    writeFile(dir.path() / "00003.fmts", std::vector<uint8_t>(1));
    std::filesystem::create_directory(dir.path() / "00009.m2ts");

    Found found = scanClips(dir);
    // '_' sorts after the letters once they are upper-cased.
    EXPECT_EQ(found.names,
              (std::vector<std::string>{"00002.m2ts", "00009.m2ts", "AAAAA.M2TS", "bbbbb.m2ts", "_xxxx.m2ts"}));
    EXPECT_EQ(found.sizes, (std::vector<uint64_t>{30, 0, 20, 10, 5}));
}

TEST(DirectoryScan, NamesShorterThanThePatternMatch) {
    if (testsupport::runningUnderWine()) GTEST_SKIP() << testsupport::kWineShortNameNote;
    TempDir dir;
    writeFile(dir.path() / "b.m2ts", std::vector<uint8_t>(10));
    writeFile(dir.path() / "A.M2TS", std::vector<uint8_t>(20));
    writeFile(dir.path() / "_x.m2ts", std::vector<uint8_t>(5));
    writeFile(dir.path() / "a.b.m2ts", std::vector<uint8_t>(1));

    Found found = scanClips(dir);
    EXPECT_EQ(found.names, (std::vector<std::string>{"A.M2TS", "b.m2ts", "_x.m2ts"}));
    EXPECT_EQ(found.sizes, (std::vector<uint64_t>{20, 10, 5}));
}

TEST(DirectoryScan, MissingFolderFindsNothing) {
    TempDir dir;
    DirectoryScan scan;
    FindEntry entry;
    std::string pattern = dir.sub("nope") + kPathSeparator + "?????.m2ts";
    EXPECT_FALSE(scan.First(pattern.c_str(), &entry));
    EXPECT_FALSE(scan.Next(&entry));
}

TEST(TickCount, AdvancesMonotonically) {
    uint32_t a = HostTickCount();
    uint32_t b = HostTickCount();
    EXPECT_LE(static_cast<uint32_t>(b - a), 1000u);
}
