// Writing sample disc folders for the tests and the demo.
#include "tools/sampledisc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "digest/sha.h"

namespace fs = std::filesystem;

namespace {

uint64_t splitmix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void putBe32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void putBe16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

bool writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        *error = "cannot write " + path.string();
        return false;
    }
    return true;
}

uint32_t numberFromName(const std::string& name) { return static_cast<uint32_t>(std::strtoul(name.c_str(), nullptr, 10)); }

}  // namespace

void fillClipBytes(uint32_t seed, uint32_t clipIndex, uint64_t offset, uint8_t* out, size_t length) {
    // Eight bytes per counter value, so any byte can be produced from its offset alone.
    const uint64_t key = (static_cast<uint64_t>(seed) << 32) ^ (static_cast<uint64_t>(clipIndex) * 0x100000001B3ull);
    size_t done = 0;
    while (done < length) {
        uint64_t pos = offset + done;
        uint64_t word = splitmix(key ^ splitmix(pos / 8));
        uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(word >> (8 * i));
        size_t from = static_cast<size_t>(pos % 8);
        size_t take = std::min<size_t>(8 - from, length - done);
        std::memcpy(out + done, bytes + from, take);
        done += take;
    }
}

void unitHashValue(const uint8_t* unit, bool sha256, uint8_t out[8]) {
    uint8_t digest[32];
    if (sha256) {
        Sha256Context context;
        Sha256Init(&context);
        Sha256Update(&context, unit);
        Sha256Final(&context, digest);
        std::memcpy(out, digest + 24, 8);
    } else {
        Sha1HashUnit(unit, digest);
        std::memcpy(out, digest + 12, 8);
    }
}

bool writeSampleDisc(const std::string& root, const SampleDisc& disc, std::string* error) {
    std::error_code ec;
    const fs::path base(root);
    const fs::path stream = base / "BDMV" / "STREAM";
    if (disc.writeStream) fs::create_directories(stream, ec);
    if (disc.writeAacs) fs::create_directories(base / "AACS", ec);
    if (!fs::is_directory(base, ec)) {
        *error = "cannot create " + root;
        return false;
    }

    std::vector<std::vector<uint8_t>> entries(disc.pairs), values(disc.pairs);
    std::vector<uint32_t> entryCounts(disc.pairs, 0);
    uint32_t unitsBefore = 0;  // table indices run on across pairs
    std::vector<uint8_t> unit(kSampleUnit);

    for (uint32_t pair = 0; pair < disc.pairs; ++pair) {
        for (uint32_t i = 0; i < disc.clips.size(); ++i) {
            const SampleClip& clip = disc.clips[i];
            if (clip.pair != pair) continue;
            const uint64_t units = clip.size / kSampleUnit;
            if (clip.inTable && units > 0) {
                putBe32(entries[pair], unitsBefore + static_cast<uint32_t>(values[pair].size() / 8));
                putBe32(entries[pair], clip.clipNumber ? clip.clipNumber : numberFromName(clip.name));
                putBe32(entries[pair], 0x00000000u + i);
                ++entryCounts[pair];
                for (uint64_t u = 0; u < units; ++u) {
                    fillClipBytes(disc.seed, i, u * kSampleUnit, unit.data(), unit.size());
                    uint8_t value[8];
                    unitHashValue(unit.data(), disc.sha256, value);
                    values[pair].insert(values[pair].end(), value, value + 8);
                }
            }
        }
        unitsBefore += static_cast<uint32_t>(values[pair].size() / 8);
    }

    if (disc.writeStream) {
        std::vector<uint8_t> chunk(1 << 20);
        for (uint32_t i = 0; i < disc.clips.size(); ++i) {
            const SampleClip& clip = disc.clips[i];
            std::FILE* out = std::fopen((stream / clip.name).string().c_str(), "wb");
            if (!out) {
                *error = "cannot write clip " + clip.name;
                return false;
            }
            for (uint64_t at = 0; at < clip.size; at += chunk.size()) {
                size_t take = static_cast<size_t>(std::min<uint64_t>(chunk.size(), clip.size - at));
                fillClipBytes(disc.seed, i, at, chunk.data(), take);
                for (uint32_t bad : clip.corruptUnits) {
                    // One changed byte in the middle of the unit is enough to change its digest.
                    uint64_t target = static_cast<uint64_t>(bad) * kSampleUnit + kSampleUnit / 2;
                    if (target >= at && target < at + take) chunk[static_cast<size_t>(target - at)] ^= 0x5A;
                }
                if (std::fwrite(chunk.data(), 1, take, out) != take) {
                    std::fclose(out);
                    *error = "cannot write clip " + clip.name;
                    return false;
                }
            }
            std::fclose(out);
        }
    }

    if (disc.writeAacs) {
        for (uint32_t pair = 0; pair < disc.pairs; ++pair) {
            std::vector<uint8_t> cert;
            cert.push_back(disc.sha256 ? 0x10 : 0x00);
            cert.push_back(0x00);
            putBe32(cert, unitsBefore);
            cert.push_back(static_cast<uint8_t>(disc.pairs));
            cert.push_back(static_cast<uint8_t>(pair));
            putBe32(cert, static_cast<uint32_t>(values[pair].size() / 8));
            putBe16(cert, entryCounts[pair]);
            putBe16(cert, disc.seed & 0xFFFF);
            // Real certificates carry a signature block after the decoded header.
            cert.resize(cert.size() + 40, 0);
            std::vector<uint8_t> table = entries[pair];
            table.insert(table.end(), values[pair].begin(), values[pair].end());
            char name[32];
            std::snprintf(name, sizeof name, "Content%03u.cer", pair);
            if (!writeBytes(base / "AACS" / name, cert, error)) return false;
            std::snprintf(name, sizeof name, "ContentHash%03u.tbl", pair);
            if (!writeBytes(base / "AACS" / name, table, error)) return false;
        }
    }
    return true;
}
