// How fast the argument scanner passes over a long argument text, against memchr alone: in
// single-byte text, and in Japanese text whose "ポ" holds the byte of "|" as its second byte.
#include "argument_scan.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const size_t kTextSize = 1 << 20;
const int kArguments = 10000;

// The lead bytes of code page 932, the test a host in that code page scans with.
bool Cp932LeadBytes(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// 1 MiB of text in 10,000 arguments, each `unit` repeated.
std::string ArgumentText(const std::string& unit) {
    const size_t each = kTextSize / kArguments;
    std::string argument;
    while (argument.size() + unit.size() < each)
        argument += unit;
    std::string built;
    for (int i = 0; i < kArguments - 1; ++i)
        built += argument + "|";
    while (built.size() + unit.size() <= kTextSize - 150)
        built += unit;
    built.resize(kTextSize - 150, 'z');
    return built + std::string(150, 'q');
}

// 1 MiB of single-byte text in 10,000 arguments, a letter each.
const std::string& SingleByteText() {
    static const std::string text = [] {
        const size_t each = kTextSize / kArguments;
        std::string built;
        for (int i = 0; i < kArguments - 1; ++i)
            built += std::string(each - 1, 'a' + i % 26) + "|";
        built += std::string(kTextSize - built.size(), 'z');
        built.replace(built.size() - 150, 150, std::string(150, 'q'));
        return built;
    }();
    return text;
}

// "レポート" in code page 932: every eighth byte is a "|" that separates nothing.
const std::string& DoubleByteText() {
    static const std::string text = ArgumentText("\x83\x8C\x83\x7C\x81\x5B\x83\x67");
    return text;
}

void Scan(benchmark::State& state, const std::string& text) {
    char destination[200];
    for (auto _ : state) {
        const int32_t length =
            ScanArgument(text.data(), static_cast<uint32_t>(text.size()), kArguments,
                         sizeof destination, destination, Cp932LeadBytes);
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(destination);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}

// The same pass with memchr alone: find every separator, then copy what follows the last.
void MemchrBaseline(benchmark::State& state) {
    const std::string& text = SingleByteText();
    char destination[200];
    for (auto _ : state) {
        const char* position = text.data();
        const char* end = text.data() + text.size();
        for (int k = 1; k < kArguments; ++k) {
            position = static_cast<const char*>(std::memchr(position, '|', end - position)) + 1;
        }
        const size_t length = std::min<size_t>(end - position, sizeof destination);
        std::memcpy(destination, position, length);
        benchmark::DoNotOptimize(destination);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}

// memchr over the double-byte text, stopping at every 0x7C byte as a byte scan must.
void MemchrEveryBarDoubleByte(benchmark::State& state) {
    const std::string& text = DoubleByteText();
    for (auto _ : state) {
        const char* position = text.data();
        const char* end = text.data() + text.size();
        size_t bars = 0;
        while (const void* bar = std::memchr(position, '|', end - position)) {
            position = static_cast<const char*>(bar) + 1;
            ++bars;
        }
        benchmark::DoNotOptimize(bars);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}

void ScanForLastArgument(benchmark::State& state) {
    Scan(state, SingleByteText());
}

void ScanDoubleByteText(benchmark::State& state) {
    Scan(state, DoubleByteText());
}

} // namespace

BENCHMARK(ScanForLastArgument);
BENCHMARK(MemchrBaseline);
BENCHMARK(ScanDoubleByteText);
BENCHMARK(MemchrEveryBarDoubleByte);
BENCHMARK_MAIN();
