// Picks the engine once per process from what the processor offers; tests and benchmarks may override it.
#include "digest/sha_engine.h"

namespace {

const DigestEngineTable* hardwareEngine() {
    static const DigestEngineTable* const detected = detectHardwareEngine();
    return detected;
}

const DigestEngineTable*& chosenEngine() {
    static const DigestEngineTable* chosen = hardwareEngine() ? hardwareEngine() : &kPortableEngine;
    return chosen;
}

}  // namespace

const DigestEngineTable& currentDigestEngine() {
    return *chosenEngine();
}

bool digestEngineAvailable(DigestEngine engine) {
    if (engine == DigestEngine::Portable) return true;
    return hardwareEngine() != nullptr && hardwareEngine()->engine == engine;
}

DigestEngine activeDigestEngine() {
    return chosenEngine()->engine;
}

bool selectDigestEngine(DigestEngine engine) {
    if (!digestEngineAvailable(engine)) return false;
    chosenEngine() = engine == DigestEngine::Portable ? &kPortableEngine : hardwareEngine();
    return true;
}

const char* digestEngineName(DigestEngine engine) {
    switch (engine) {
        case DigestEngine::Portable:
            return "portable";
        case DigestEngine::X86Sha:
            return "x86-sha";
        case DigestEngine::ArmCrypto:
            return "arm-crypto";
    }
    return "unknown";
}
