// What an engine supplies: the compression functions of both algorithms, over the caller-owned contexts.
#pragma once

// Included by the instruction-set files, which are compiled with extra target flags: keep inline
// functions out of this header, or the linker could keep a copy that needs those instructions.
#include <cstddef>
#include <cstdint>

#include "digest/sha.h"

// The SHA-1 context never leaves this folder; same shape as Sha256Context.
struct Sha1Context {
    uint32_t lengthLow;
    uint32_t lengthHigh;
    uint32_t state[5];
    uint8_t block[64];
};

// compress* takes the sixteen native-order words already in the context's block, as the final step
// leaves them. compress*Blocks takes whole 64-byte blocks straight from the caller's buffer, which it only
// reads; the hardware engines load them into registers without a detour through the block.
struct DigestEngineTable {
    DigestEngine engine;
    void (*compressSha1)(Sha1Context* context);
    void (*compressSha1Blocks)(Sha1Context* context, const uint8_t* data, size_t blockCount);
    void (*compressSha256)(Sha256Context* context);
    void (*compressSha256Blocks)(Sha256Context* context, const uint8_t* data, size_t blockCount);
};

extern const DigestEngineTable kPortableEngine;
extern const DigestEngineTable kX86ShaEngine;
extern const DigestEngineTable kArmCryptoEngine;

extern const uint32_t kSha256RoundConstants[64];

// Supplied by the one processor file that the build picks: the hardware engine that this build carries,
// or null when the processor cannot run it (or the build carries none).
const DigestEngineTable* detectHardwareEngine();

// The engine that the public entry points use; dispatch.cpp decides it once per process.
const DigestEngineTable& currentDigestEngine();
