// SHA-1 and SHA-256 (FIPS 180-4) of whole hash units, on the fastest engine the processor offers.
#pragma once

#include <cstddef>
#include <cstdint>

// Named apart from the verifier's kHashUnitSize so this folder depends on nothing of the project.
constexpr uint32_t kHashUnitBytes = 196608;
constexpr size_t kSha1DigestBytes = 20;
constexpr size_t kSha256DigestBytes = 32;

// Owned by the caller, usually on its stack for one hash unit. After a compression the block holds
// message-schedule words, not message bytes.
struct Sha256Context {
    uint32_t lengthLow;
    uint32_t lengthHigh;
    uint32_t state[8];
    uint8_t block[64];
};

// The digest of exactly one hash unit of kHashUnitBytes bytes.
void Sha1HashUnit(const uint8_t* data, uint8_t digest[20]);

// Init, Update once with one hash unit, Final; the context is spent after Final.
void Sha256Init(Sha256Context* context);
void Sha256Update(Sha256Context* context, const uint8_t* data);
void Sha256Final(Sha256Context* context, uint8_t digest[32]);

// Any length (SHA-256 in any number of pieces), on the same engines and the same final step.
void Sha256UpdateBytes(Sha256Context* context, const uint8_t* data, size_t length);
void Sha256Bytes(const uint8_t* data, size_t length, uint8_t digest[32]);
void Sha1Bytes(const uint8_t* data, size_t length, uint8_t digest[20]);

// The portable engine is always built; a hardware engine only where its processor family is the target.
enum class DigestEngine { Portable, X86Sha, ArmCrypto };

// Built into this binary and supported by the processor it runs on.
bool digestEngineAvailable(DigestEngine engine);
// The best available engine unless selectDigestEngine chose another.
DigestEngine activeDigestEngine();
// For tests and benchmarks. Returns false and changes nothing if the engine is not available.
bool selectDigestEngine(DigestEngine engine);
const char* digestEngineName(DigestEngine engine);
