// In-process times of one page file, the yardsticks of bench/cli-bench.sh:
// the HTML parser's own parse with its default options (its own memory
// allocation), the best of RUNS (default 3), and the engine's SecurePage
// (level 2, scrambling only) and OptimisePage (every switch), the best of
// ten each after a first run that warms the memory up.
//   PageInProcess gumbo FILE [RUNS]   prints "gumbo SECONDS PROCESSOR-SECONDS"
//   PageInProcess engine FILE         prints "secure-level2 SECONDS" and
//                                     "optimise SECONDS"
#include "protection/Optimise.h"
#include "protection/SecurePage.h"

#include <gumbo.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <time.h>
#include <utility>

namespace {

double ProcessSeconds()
{
    timespec t = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The best time of `work` over `runs` runs, each after `prepare` (not
// timed): elapsed, and processor time of the process (which other programs
// on a busy machine do not lengthen).
template <typename Prepare, typename Work>
std::pair<double, double> Best(int runs, Prepare prepare, Work work)
{
    double best = 0, bestProcessor = 0;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const double processor = ProcessSeconds();
        const auto start = std::chrono::steady_clock::now();
        work();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double used = ProcessSeconds() - processor;
        if (i == 0 || seconds < best)
            best = seconds;
        if (i == 0 || used < bestProcessor)
            bestProcessor = used;
    }
    return {best, bestProcessor};
}

} // namespace

int main(int argc, char** argv)
{
    const std::string what = argc >= 3 ? argv[1] : "";
    if ((what != "gumbo" || argc > 4) && (what != "engine" || argc != 3)) {
        std::fprintf(stderr, "usage: %s gumbo FILE [RUNS] | engine FILE\n", argv[0]);
        return 2;
    }
    const int runs = argc == 4 ? std::max(1, std::atoi(argv[3])) : 3;
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::perror(argv[2]);
        return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string page = ss.str();

    if (what == "gumbo") {
        const auto [gumbo, processor] = Best(
            runs, [] {},
            [&] {
                GumboOutput* output =
                    gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
                gumbo_destroy_output(&kGumboDefaultOptions, output);
            });
        std::printf("gumbo %.4f %.4f\n", gumbo, processor);
        return 0;
    }

    kestrix::ProtectionEngine engine;
    engine.settings.StrengthLevel = 2;
    engine.SetProtectionParts(kestrix::partEncrypt);
    std::string text;
    const double secure = Best(
                              11, [&] { text = page; }, [&] { engine.SecurePage(text); })
                              .first;
    std::printf("secure-level2 %.4f\n", secure);

    kestrix::ProtectionSettings all;
    all.RemoveTbody = all.RemoveComments = all.ReplaceSimpleTags = true;
    all.RemoveEndP = all.RemoveEndTR = all.RemoveEndTD = true;
    all.RemoveGroupComments = all.MergeWhitespace = all.OptimizeCode = true;
    const double optimise = Best(
                                11, [&] { text = page; }, [&] { kestrix::OptimisePage(text, all); })
                                .first;
    std::printf("optimise %.4f\n", optimise);
    return 0;
}
