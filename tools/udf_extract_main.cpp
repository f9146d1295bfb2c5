// tamsel-udfextract: writes out every directory and file of an image as the tool's own reader sees it, so
// scripts can compare the reader with readers written elsewhere.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "udf/directory_tree.h"
#include "udf/file_read.h"
#include "udf/udf_volume.h"

namespace fs = std::filesystem;

namespace {

bool extractFile(UdfVolume* volume, const DirectoryNode* node, const fs::path& target) {
    std::FILE* out = std::fopen(target.string().c_str(), "wb");
    if (!out) return false;
    std::vector<uint8_t> buffer(1 << 20);
    bool ok = true;
    for (uint64_t at = 0; at < node->size;) {
        uint32_t got = 0;
        if (!readFileRange(volume, node, at, buffer.data(), static_cast<uint32_t>(buffer.size()), &got, 0) ||
            got == 0) {
            ok = false;
            break;
        }
        std::fwrite(buffer.data(), 1, got, out);
        at += got;
    }
    std::fclose(out);
    return ok;
}

// 8-bit names hold their characters as single bytes (Latin-1); the host wants UTF-8.
std::string hostName(const DirectoryNode* node) {
    if (node->nameIsUtf8) return node->name;
    std::string out;
    for (const char* p = node->name; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool extractTree(UdfVolume* volume, const DirectoryNode* directory, const fs::path& target, int depth) {
    bool ok = true;
    for (const DirectoryNode* child = directory->firstChild; child; child = child->nextSibling) {
        const fs::path path = target / fs::u8path(hostName(child));
        std::printf("%s %s %llu\n", child->isDirectory ? "d" : "f", path.string().c_str(),
                    static_cast<unsigned long long>(child->isDirectory ? 0 : child->size));
        if (child->isDirectory) {
            std::error_code ec;
            fs::create_directories(path, ec);
            if (depth < 64) ok = extractTree(volume, child, path, depth + 1) && ok;
        } else if (!extractFile(volume, child, path)) {
            std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
            ok = false;
        }
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tamsel-udfextract IMAGE OUTDIR\n");
        return 2;
    }
    UdfVolume volume;
    if (!volume.open(argv[1])) {
        std::fprintf(stderr, "does not mount: %s\n", argv[1]);
        return 1;
    }
    std::error_code ec;
    fs::create_directories(argv[2], ec);
    return extractTree(&volume, volume.root, argv[2], 0) ? 0 : 1;
}
