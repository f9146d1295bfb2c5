// The sample-disc maker: a disc folder with content files and clips, written deterministically from a seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SampleClip {
    std::string name;                   // file name inside BDMV/STREAM, e.g. "00001.m2ts"
    uint64_t size = 0;                  // bytes
    uint32_t clipNumber = 0;            // number in the table; 0 means: taken from the name
    uint32_t pair = 0;                  // which content file pair lists it
    bool inTable = true;                // false: the clip gets no table entry
    std::vector<uint32_t> corruptUnits; // units whose bytes are changed after hashing
};

struct SampleDisc {
    uint32_t seed = 1;
    uint32_t pairs = 1;                 // number of content file pairs
    bool sha256 = true;                 // certificate type 0x10, else SHA-1
    std::vector<SampleClip> clips;
    bool writeAacs = true;
    bool writeStream = true;
};

constexpr uint64_t kSampleUnit = 196608;

// Writes ROOT/AACS/Content%03d.cer, ContentHash%03d.tbl and ROOT/BDMV/STREAM clips. The table lists every
// clip with inTable set and at least one complete unit, in clip order within its pair.
bool writeSampleDisc(const std::string& root, const SampleDisc& disc, std::string* error);

// The bytes of a clip: a deterministic function of the seed and the clip's position.
void fillClipBytes(uint32_t seed, uint32_t clipIndex, uint64_t offset, uint8_t* out, size_t length);

// The last 8 bytes of the digest of one unit, as the table stores them.
void unitHashValue(const uint8_t* unit, bool sha256, uint8_t out[8]);
