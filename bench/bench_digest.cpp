// MB/s of one hash unit per engine, SHA-1 and SHA-256, next to OpenSSL's EVP digests on the same data.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "digest/sha.h"

namespace {

const std::vector<uint8_t>& unitData() {
    static const std::vector<uint8_t> unit = [] {
        std::vector<uint8_t> bytes(kHashUnitBytes);
        std::mt19937 generator(42);
        for (uint8_t& b : bytes) b = uint8_t(generator());
        return bytes;
    }();
    return unit;
}

// The engine is selected per benchmark because Google Benchmark runs them one after another.
void sha1Unit(benchmark::State& state, DigestEngine engine) {
    selectDigestEngine(engine);
    const uint8_t* data = unitData().data();
    uint8_t digest[kSha1DigestBytes];
    for (auto _ : state) {
        Sha1HashUnit(data, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kHashUnitBytes);
}

void sha256Unit(benchmark::State& state, DigestEngine engine) {
    selectDigestEngine(engine);
    const uint8_t* data = unitData().data();
    uint8_t digest[kSha256DigestBytes];
    for (auto _ : state) {
        Sha256Context context;
        Sha256Init(&context);
        Sha256Update(&context, data);
        Sha256Final(&context, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kHashUnitBytes);
}

// One context reused across units, as a caller of the EVP interface would do in a loop.
void opensslUnit(benchmark::State& state, const EVP_MD* (*algorithm)()) {
    const uint8_t* data = unitData().data();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const EVP_MD* md = algorithm();
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(context, md, nullptr);
        EVP_DigestUpdate(context, data, kHashUnitBytes);
        EVP_DigestFinal_ex(context, digest, &length);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(context);
    state.SetBytesProcessed(int64_t(state.iterations()) * kHashUnitBytes);
}

void registerBenchmarks() {
    for (DigestEngine engine : {DigestEngine::Portable, DigestEngine::X86Sha, DigestEngine::ArmCrypto}) {
        if (!digestEngineAvailable(engine)) continue;
        const std::string name = digestEngineName(engine);
        benchmark::RegisterBenchmark(("sha1_unit/" + name).c_str(), sha1Unit, engine);
        benchmark::RegisterBenchmark(("sha256_unit/" + name).c_str(), sha256Unit, engine);
    }
    benchmark::RegisterBenchmark("sha1_unit/openssl_evp", opensslUnit, EVP_sha1);
    benchmark::RegisterBenchmark("sha256_unit/openssl_evp", opensslUnit, EVP_sha256);
}

}  // namespace

int main(int argc, char** argv) {
    registerBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
