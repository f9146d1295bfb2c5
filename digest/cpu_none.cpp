// Processors without a hardware engine in this build: the portable engine serves alone.
#include "digest/sha_engine.h"

const DigestEngineTable* detectHardwareEngine() {
    return nullptr;
}
