// Cost of the translation lookup that every message and designed text goes
// through, and of reading a language file, for a file of realistic size.
#include "support/Translation.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// A language file with `entries` messages in "STRING_TABLE" and twenty form
// sections of 50 texts each.
std::string MakeLanguageFile(int entries)
{
    std::string file = "; generated\r\n<//STRING_TABLE-\r\n";
    for (int i = 0; i < entries; ++i)
        file += "E=Message number " + std::to_string(i) +
                " about %s\\r\\nsecond line\r\nT=Meldung " + std::to_string(i) +
                " zu %s\\r\\nzweite Zeile\r\n";
    for (int f = 0; f < 20; ++f) {
        file += "<//TFormSection" + std::to_string(f) + "-\r\n";
        for (int i = 0; i < 50; ++i)
            file += "E=Caption " + std::to_string(i) + "\r\nT=Beschriftung " + std::to_string(i) +
                    "\r\n";
    }
    return file;
}

void BM_LoadLanguageFile(benchmark::State& state)
{
    const std::string file = MakeLanguageFile(int(state.range(0)));
    for (auto _ : state) {
        kestrix::TranslationTable table;
        table.Load(file);
        benchmark::DoNotOptimize(table.Size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

void BM_TranslateFound(benchmark::State& state)
{
    kestrix::TranslationTable table;
    table.Load(MakeLanguageFile(int(state.range(0))));
    const std::string text = "Message number 123 about %s\r\nsecond line";
    for (auto _ : state)
        benchmark::DoNotOptimize(table.Translate(text, "STRING_TABLE"));
}

void BM_TranslateMissing(benchmark::State& state)
{
    kestrix::TranslationTable table;
    table.Load(MakeLanguageFile(int(state.range(0))));
    const std::string text = "A message the language file does not know";
    for (auto _ : state)
        benchmark::DoNotOptimize(table.Translate(text, "STRING_TABLE"));
}

} // namespace

BENCHMARK(BM_LoadLanguageFile)->Arg(1000)->Arg(10000);
BENCHMARK(BM_TranslateFound)->Arg(1000)->Arg(10000);
BENCHMARK(BM_TranslateMissing)->Arg(1000)->Arg(10000);
BENCHMARK_MAIN();
