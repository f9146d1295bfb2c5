// arm64 macOS: every Apple processor that runs it has the cryptographic extension.
#include "digest/sha_engine.h"

const DigestEngineTable* detectHardwareEngine() {
    return &kArmCryptoEngine;
}
