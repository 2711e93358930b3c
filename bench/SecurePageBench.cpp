// Throughput of securing a page at several strength levels, beside memcpy
// of the same bytes in the same run.
#include "Corpus.h"

#include "protection/SecurePage.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>

namespace {

void BM_Memcpy(benchmark::State& state)
{
    const std::string& page = bench::CachedPage(size_t(state.range(0)));
    std::string copy(page.size(), '\0');
    for (auto _ : state) {
        std::memcpy(copy.data(), page.data(), page.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}

void BM_SecurePage(benchmark::State& state)
{
    const std::string& page = bench::CachedPage(size_t(state.range(0)));
    kestrix::ProtectionEngine engine;
    engine.settings.StrengthLevel = int(state.range(1));
    engine.settings.DisableRightClicking = true;
    engine.SetProtectionParts(kestrix::partEncrypt | kestrix::partLimitAccess);
    for (auto _ : state) {
        // The copy of the page is the benchmark's, not the engine's work.
        state.PauseTiming();
        std::string text = page;
        state.ResumeTiming();
        if (!engine.SecurePage(text))
            state.SkipWithError("page could not be secured");
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}

constexpr int64_t MB = 1 << 20;

} // namespace

BENCHMARK(BM_Memcpy)->Arg(MB)->Arg(10 * MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecurePage)
    ->ArgsProduct({{MB, 10 * MB}, {1, 2, 4}})
    ->ArgNames({"bytes", "level"})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
