// Base64 decoding speed on a 4 MiB text: clean symbols (the settings writer's
// form) and the same text with a blank every 76 symbols.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "staging/base64.h"

namespace {

std::string base64_text(std::size_t size, bool blanks) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve(size + size / 76);
    unsigned state = 12345;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text.push_back(kAlphabet[(state >> 16) % 64]);
        if (blanks && text.size() % 77 == 76) {
            text.push_back(' ');
        }
    }
    return text;
}

void decode_benchmark(benchmark::State& state, bool blanks) {
    const std::string text = base64_text(std::size_t{4} << 20, blanks);
    std::unique_ptr<unsigned char[]> out(
        new unsigned char[quorbix::base64_chunk_bound(text.size())]);
    for (auto _ : state) {
        quorbix::Base64Decoder d;
        benchmark::DoNotOptimize(
            quorbix::base64_decode_chunk(d, text.data(), text.size(), out.get()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void BM_Base64Decode(benchmark::State& state) {
    decode_benchmark(state, false);
}
void BM_Base64DecodeWithBlanks(benchmark::State& state) {
    decode_benchmark(state, true);
}

BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Base64DecodeWithBlanks)->Unit(benchmark::kMicrosecond);

}  // namespace
