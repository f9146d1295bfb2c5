// arm64 Linux feature detection: the kernel reports the SHA-1 and SHA-2 instructions in AT_HWCAP.
#include <sys/auxv.h>

#include "digest/sha_engine.h"

// Older C libraries lack the names; the bit positions are the kernel's ABI.
#ifndef HWCAP_SHA1
#define HWCAP_SHA1 (1UL << 5)
#endif
#ifndef HWCAP_SHA2
#define HWCAP_SHA2 (1UL << 6)
#endif

const DigestEngineTable* detectHardwareEngine() {
    const unsigned long hwcap = getauxval(AT_HWCAP);
    const unsigned long needed = HWCAP_SHA1 | HWCAP_SHA2;
    return (hwcap & needed) == needed ? &kArmCryptoEngine : nullptr;
}
