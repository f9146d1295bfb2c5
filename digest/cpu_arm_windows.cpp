// arm64 Windows feature detection: one processor-feature flag covers the SHA-1 and SHA-256 instructions.
#include <windows.h>

#include "digest/sha_engine.h"

#ifndef PF_ARM_V8_CRYPTO_INSTRUCTIONS_AVAILABLE
#define PF_ARM_V8_CRYPTO_INSTRUCTIONS_AVAILABLE 30
#endif

const DigestEngineTable* detectHardwareEngine() {
    return IsProcessorFeaturePresent(PF_ARM_V8_CRYPTO_INSTRUCTIONS_AVAILABLE) ? &kArmCryptoEngine : nullptr;
}
