// x86-64 feature detection: the SHA extensions (CPUID leaf 7, EBX bit 29) with SSSE3 and SSE4.1 (leaf 1).
#include "digest/sha_engine.h"

// The compilers spell CPUID differently; this file is the only place that knows.
#if defined(_MSC_VER)
#include <intrin.h>

namespace {
bool cpuid(unsigned leaf, unsigned subleaf, unsigned regs[4]) {
    int maxLeaf[4];
    __cpuid(maxLeaf, 0);
    if (unsigned(maxLeaf[0]) < leaf) return false;
    int out[4];
    __cpuidex(out, int(leaf), int(subleaf));
    for (int i = 0; i < 4; ++i) regs[i] = unsigned(out[i]);
    return true;
}
}  // namespace
#else
#include <cpuid.h>

namespace {
bool cpuid(unsigned leaf, unsigned subleaf, unsigned regs[4]) {
    return __get_cpuid_count(leaf, subleaf, &regs[0], &regs[1], &regs[2], &regs[3]) != 0;
}
}  // namespace
#endif

const DigestEngineTable* detectHardwareEngine() {
    unsigned leaf1[4];
    unsigned leaf7[4];
    if (!cpuid(1, 0, leaf1) || !cpuid(7, 0, leaf7)) return nullptr;
    const bool ssse3 = (leaf1[2] >> 9) & 1;
    const bool sse41 = (leaf1[2] >> 19) & 1;
    const bool sha = (leaf7[1] >> 29) & 1;
    return ssse3 && sse41 && sha ? &kX86ShaEngine : nullptr;
}
