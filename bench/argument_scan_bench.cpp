// How fast the argument scanner passes over a long argument text, against memchr alone.
#include "argument_scan.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

namespace {

const size_t kTextSize = 1 << 20;
const int kArguments = 10000;

// 1 MiB of text in 10,000 arguments; the last one is short enough to be copied.
const std::string& LongArgumentText() {
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

void ScanForLastArgument(benchmark::State& state) {
    const std::string& text = LongArgumentText();
    char destination[200];
    for (auto _ : state) {
        const int32_t length = ScanArgument(text.data(), static_cast<uint32_t>(text.size()),
                                            kArguments, sizeof destination, destination);
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(destination);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}

// The same pass with memchr alone: find every separator, then copy what follows the last.
void MemchrBaseline(benchmark::State& state) {
    const std::string& text = LongArgumentText();
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

} // namespace

BENCHMARK(ScanForLastArgument);
BENCHMARK(MemchrBaseline);
BENCHMARK_MAIN();
