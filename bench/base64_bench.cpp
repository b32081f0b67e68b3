// Base64 encoding of 100 MB: ours against OpenSSL's EVP_EncodeBlock and against a plain copy
// of the same buffer.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "settings/base64.h"

namespace {

constexpr std::size_t kInputBytes = 100 * 1000 * 1000;

const std::vector<unsigned char>& input() {
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> b(kInputBytes);
        unsigned state = 2463534242u;
        for (auto& x : b) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            x = static_cast<unsigned char>(state);
        }
        return b;
    }();
    return bytes;
}

void BM_Base64EncodeTo(benchmark::State& state) {
    const auto& in = input();
    std::vector<char> out(base64EncodedSize(in.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(base64EncodeTo(in.data(), in.size(), out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_Base64EncodeTo)->Unit(benchmark::kMillisecond);

void BM_Base64CoderEncode(benchmark::State& state) {
    const auto& in = input();
    Base64Coder coder;
    for (auto _ : state) {
        coder.encode(in.data(), in.size());
        benchmark::DoNotOptimize(coder.encodedData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_Base64CoderEncode)->Unit(benchmark::kMillisecond)->Iterations(8);

void BM_EvpEncodeBlock(benchmark::State& state) {
    const auto& in = input();
    std::vector<unsigned char> out(base64EncodedSize(in.size()) + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(in.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_EvpEncodeBlock)->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State& state) {
    const auto& in = input();
    std::vector<unsigned char> out(in.size());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
