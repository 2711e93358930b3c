// Throughput of the optimisation with every switch on: on pages that need the
// document tree, on pages that do not (the pre-scan skips the parser), and
// the parser's own parse of the same page in the same run.
#include "Corpus.h"

#include "platform/HtmlDocument.h"
#include "protection/Optimise.h"

#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <map>

namespace {

kestrix::ProtectionSettings AllSwitches()
{
    kestrix::ProtectionSettings s;
    s.RemoveTbody = s.RemoveComments = s.ReplaceSimpleTags = true;
    s.RemoveEndP = s.RemoveEndTR = s.RemoveEndTD = true;
    s.RemoveGroupComments = s.MergeWhitespace = s.OptimizeCode = true;
    return s;
}

// A plain page already optimised: nothing is left for the tree steps.
const std::string& PlainPage(size_t size)
{
    static std::map<size_t, std::string> pages;
    auto it = pages.find(size);
    if (it == pages.end()) {
        std::string page = bench::MakePlainPage(size);
        kestrix::OptimisePage(page, AllSwitches());
        it = pages.emplace(size, std::move(page)).first;
    }
    return it->second;
}

void BM_OptimiseParsed(benchmark::State& state)
{
    const std::string& page = bench::CachedPage(size_t(state.range(0)));
    const kestrix::ProtectionSettings settings = AllSwitches();
    if (!kestrix::OptimiseNeedsDocumentModel(page, settings))
        state.SkipWithError("the page needs no parse");
    for (auto _ : state) {
        std::string text = page;
        kestrix::OptimisePage(text, settings);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}

void BM_OptimisePlain(benchmark::State& state)
{
    const std::string& page = PlainPage(size_t(state.range(0)));
    const kestrix::ProtectionSettings settings = AllSwitches();
    if (kestrix::OptimiseNeedsDocumentModel(page, settings))
        state.SkipWithError("the plain page needs a parse");
    for (auto _ : state) {
        std::string text = page;
        kestrix::OptimisePage(text, settings);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}

void BM_GumboParse(benchmark::State& state)
{
    const std::string& page = bench::CachedPage(size_t(state.range(0)));
    for (auto _ : state) {
        GumboOutput* output =
            gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
        benchmark::DoNotOptimize(output);
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}

void BM_HtmlDocument(benchmark::State& state)
{
    const std::string& page = bench::CachedPage(size_t(state.range(0)));
    for (auto _ : state) {
        kestrix::HtmlDocument doc(page);
        benchmark::DoNotOptimize(doc.IsParsed());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}

constexpr int64_t MB = 1 << 20;

} // namespace

BENCHMARK(BM_OptimiseParsed)->Arg(MB)->Arg(10 * MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OptimisePlain)->Arg(MB)->Arg(10 * MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GumboParse)->Arg(MB)->Arg(10 * MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HtmlDocument)->Arg(MB)->Arg(10 * MB)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
