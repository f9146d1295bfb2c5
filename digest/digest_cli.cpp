// A small command that prints our SHA-1 and SHA-256 of files, so scripts can compare them with other tools.
//
//   tamsel_digest_cli --engines
//   tamsel_digest_cli [--engine NAME] [--unit] [--piece BYTES] FILE...
//
// --unit hashes each file (exactly one hash unit long) through the unit entry points the verifier uses;
// --piece feeds SHA-256 in pieces of that many bytes, to exercise partly filled blocks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "digest/sha.h"

namespace {

const DigestEngine kEngines[] = {DigestEngine::Portable, DigestEngine::X86Sha, DigestEngine::ArmCrypto};

bool readFile(const char* path, std::vector<uint8_t>* bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    uint8_t buffer[65536];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) != 0)
        bytes->insert(bytes->end(), buffer, buffer + count);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

void printDigest(const char* algorithm, const uint8_t* digest, size_t length, const char* path) {
    std::printf("%s ", algorithm);
    for (size_t i = 0; i < length; ++i) std::printf("%02x", digest[i]);
    std::printf(" %s\n", path);
}

int usage() {
    std::printf(
        "usage: tamsel_digest_cli --engines\n"
        "       tamsel_digest_cli [--engine NAME] [--unit] [--piece BYTES] FILE...\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool unit = false;
    size_t piece = 0;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        const char* option = argv[first];
        if (std::strcmp(option, "--engines") == 0) {
            for (DigestEngine engine : kEngines) {
                if (digestEngineAvailable(engine)) std::printf("%s\n", digestEngineName(engine));
            }
            return 0;
        }
        if (std::strcmp(option, "--unit") == 0) {
            unit = true;
        } else if (std::strcmp(option, "--piece") == 0 && first + 1 < argc) {
            piece = std::strtoul(argv[++first], nullptr, 10);
        } else if (std::strcmp(option, "--engine") == 0 && first + 1 < argc) {
            const char* name = argv[++first];
            bool selected = false;
            for (DigestEngine engine : kEngines) {
                if (std::strcmp(name, digestEngineName(engine)) == 0) selected = selectDigestEngine(engine);
            }
            if (!selected) {
                std::printf("engine not available: %s\n", name);
                return 1;
            }
        } else {
            return usage();
        }
    }
    if (first == argc) return usage();

    for (int i = first; i < argc; ++i) {
        std::vector<uint8_t> bytes;
        if (!readFile(argv[i], &bytes)) {
            std::printf("cannot read: %s\n", argv[i]);
            return 1;
        }
        if (unit && bytes.size() != kHashUnitBytes) {
            std::printf("not one hash unit: %s\n", argv[i]);
            return 1;
        }
        uint8_t sha1[kSha1DigestBytes];
        uint8_t sha256[kSha256DigestBytes];
        Sha256Context context;
        Sha256Init(&context);
        if (unit) {
            Sha1HashUnit(bytes.data(), sha1);
            Sha256Update(&context, bytes.data());
        } else {
            Sha1Bytes(bytes.data(), bytes.size(), sha1);
            const size_t step = piece ? piece : bytes.size();
            for (size_t offset = 0; offset < bytes.size(); offset += step) {
                const size_t length = bytes.size() - offset < step ? bytes.size() - offset : step;
                Sha256UpdateBytes(&context, bytes.data() + offset, length);
            }
        }
        Sha256Final(&context, sha256);
        printDigest("sha1", sha1, sizeof sha1, argv[i]);
        printDigest("sha256", sha256, sizeof sha256, argv[i]);
    }
    return 0;
}
