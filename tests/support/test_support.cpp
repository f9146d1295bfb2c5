// Shared test helpers.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <random>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() /
                             ("tamsel-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            dir = candidate;
            return;
        }
    }
    ADD_FAILURE() << "cannot create a temporary folder";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only copies made by tests must not stop the clean-up.
    for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(dir, ec);
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> tamselCommand() {
    std::vector<std::string> words;
#ifdef TAMSEL_EMULATOR
    std::string emulator = TAMSEL_EMULATOR;
    for (size_t start = 0, bar; start <= emulator.size(); start = bar + 1) {
        bar = emulator.find('|', start);
        if (bar == std::string::npos) bar = emulator.size();
        words.push_back(emulator.substr(start, bar - start));
    }
#endif
    words.push_back(TAMSEL_EXE);
    return words;
}

namespace {

RunResult runOnce(const std::vector<std::string>& args) {
    std::vector<std::string> words = tamselCommand();
    words.insert(words.end(), args.begin(), args.end());
    return runCommand(words.front(), std::vector<std::string>(words.begin() + 1, words.end()));
}

}  // namespace

RunResult runTamsel(const std::vector<std::string>& args) {
    // With no argument at all the tool prints its usage; a switch would change that.
    if (args.empty()) return runOnce(args);
    std::vector<std::string> one = args;
    one.insert(one.begin(), "-t1");
    RunResult sequential = runOnce(one);
    std::vector<std::string> several = args;
    several.insert(several.begin(), "-t4");
    RunResult parallel = runOnce(several);
    EXPECT_EQ(parallel.status, sequential.status) << ::testing::PrintToString(args);
    EXPECT_EQ(maskElapsed(parallel.output), maskElapsed(sequential.output)) << ::testing::PrintToString(args);
    return sequential;
}

void makeDisc(const std::string& root, const SampleDisc& disc) {
    std::string error;
    ASSERT_TRUE(writeSampleDisc(root, disc, &error)) << error;
}

std::string maskElapsed(const std::string& output) {
    static const std::string kLabel = "Time elapsed      : ";
    std::string out = output;
    for (size_t at = out.find(kLabel); at != std::string::npos; at = out.find(kLabel, at + 1)) {
        size_t figure = at + kLabel.size();
        size_t end = out.find(" s\n", figure);
        if (end == std::string::npos) break;
        // Only a figure like 12.3 is replaced, so a malformed line still shows up in a comparison.
        std::string text = out.substr(figure, end - figure);
        size_t dot = text.find('.');
        bool isFigure = dot != std::string::npos && dot > 0 && dot + 2 == text.size() &&
                        text.find_first_not_of("0123456789.") == std::string::npos;
        if (isFigure) out.replace(figure, end - figure, "X");
    }
    return out;
}

}  // namespace testsupport
