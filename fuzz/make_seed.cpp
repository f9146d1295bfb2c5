// Turns sample discs into fuzz inputs: an image into the overlay of the sectors its mount and its content
// files read, and content file pairs into the input of the content-pair target.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzz/overlay_input.h"
#include "io/heap.h"
#include "udf/directory_tree.h"
#include "udf/file_read.h"
#include "udf/udf_volume.h"

namespace {

// Content files and directories are small; clips are not read, so their sectors stay blank in the seed.
constexpr uint64_t kReadWholeBelow = 1u << 16;

bool readAll(const char* path, std::vector<uint8_t>* out) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        return false;
    }
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
        out->insert(out->end(), chunk, chunk + got);
    }
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool writeAll(const char* path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// The tree as one line per node, to check that the seed mounts as its image does.
void describe(UdfVolume* volume, const DirectoryNode* node, int depth, std::string* out) {
    for (const DirectoryNode* c = node->firstChild; c != nullptr; c = c->nextSibling) {
        *out += std::string(size_t(depth), ' ') + c->name + (c->isDirectory ? "/" : "") + " " +
                std::to_string(c->isDirectory ? 0 : c->size) + "\n";
        if (c->isDirectory) {
            describe(volume, c, depth + 1, out);
        } else if (c->size <= kReadWholeBelow) {
            uint32_t size = 0;
            uint8_t* data = readWholeFile(volume, c, &size);
            if (data != nullptr) {
                *out += "  data " + std::to_string(size) + " " + std::to_string(data[0]) + "\n";
            }
            heapFree(data);
        }
    }
}

int imageSeed(const char* imagePath, const char* outPath) {
    std::vector<uint8_t> image;
    if (!readAll(imagePath, &image)) {
        std::fprintf(stderr, "cannot read %s\n", imagePath);
        return 1;
    }
    uint64_t sectors = image.size() / FakeDevice::kSectorSize;
    if (sectors > overlay::kMaxSectors) {
        std::fprintf(stderr, "%s: %llu sectors, more than an overlay holds\n", imagePath,
                     static_cast<unsigned long long>(sectors));
        return 1;
    }
    // The sectors the mount and the content files read, as the device recorded its commands.
    std::set<uint32_t> touched;
    std::string original;
    {
        UdfVolume volume;
        FakeDevice* device = new FakeDevice(image);
        if (!volume.openDevice(device)) {
            std::fprintf(stderr, "%s does not mount\n", imagePath);
            return 1;
        }
        describe(&volume, volume.root, 0, &original);
        for (const ReadCommand& read : device->reads) {
            for (uint64_t s = read.sector; s < uint64_t(read.sector) + read.count && s < sectors; ++s) {
                touched.insert(uint32_t(s));
            }
        }
    }
    std::vector<uint8_t> seed;
    overlay::putHeader(seed, uint32_t(sectors));
    for (uint32_t s : touched) {
        overlay::putRecord(seed, s, image.data() + size_t(s) * FakeDevice::kSectorSize);
    }
    std::string again;
    {
        UdfVolume volume;
        if (!volume.openDevice(overlay::deviceFrom(seed.data(), seed.size()).release())) {
            std::fprintf(stderr, "the seed of %s does not mount\n", imagePath);
            return 1;
        }
        describe(&volume, volume.root, 0, &again);
    }
    if (again != original) {
        std::fprintf(stderr, "the seed of %s mounts to another tree\n", imagePath);
        return 1;
    }
    if (!writeAll(outPath, seed)) {
        std::fprintf(stderr, "cannot write %s\n", outPath);
        return 1;
    }
    std::printf("%s: %zu sectors read, %zu bytes\n", outPath, touched.size(), seed.size());
    return 0;
}

void putPiece(std::vector<uint8_t>& out, const std::vector<uint8_t>& piece) {
    size_t length = std::min<size_t>(piece.size(), 0xFFFF);
    out.push_back(uint8_t(length));
    out.push_back(uint8_t(length >> 8));
    out.insert(out.end(), piece.begin(), piece.begin() + long(length));
}

int pairSeed(int argc, char** argv) {
    // pair FLAGS CER TBL [CER TBL ...] OUT
    std::vector<uint8_t> seed;
    seed.push_back(uint8_t(std::strtoul(argv[2], nullptr, 0)));
    for (int i = 3; i + 1 < argc - 1; i += 2) {
        std::vector<uint8_t> cer;
        std::vector<uint8_t> tbl;
        if (!readAll(argv[i], &cer) || !readAll(argv[i + 1], &tbl)) {
            std::fprintf(stderr, "cannot read %s or %s\n", argv[i], argv[i + 1]);
            return 1;
        }
        putPiece(seed, cer);
        putPiece(seed, tbl);
    }
    if (!writeAll(argv[argc - 1], seed)) {
        std::fprintf(stderr, "cannot write %s\n", argv[argc - 1]);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "image") == 0) {
        return imageSeed(argv[2], argv[3]);
    }
    if (argc >= 6 && std::strcmp(argv[1], "pair") == 0 && (argc - 4) % 2 == 0) {
        return pairSeed(argc, argv);
    }
    std::fprintf(stderr,
                 "usage: make_seed image IMAGE OUT\n"
                 "       make_seed pair FLAGS CER TBL [CER TBL ...] OUT\n");
    return 2;
}
