// In-process times of one page file, the yardsticks of bench/cli-bench.sh:
// the HTML parser's own parse with its default options (its own memory
// allocation), the best of RUNS (default 3), and the engine's SecurePage
// (level 2, scrambling only) and OptimisePage (every switch), the best of
// ten each after a first run that warms the memory up.
//   PageInProcess gumbo FILE [RUNS]   prints "gumbo SECONDS"
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

namespace {

// The best time of `work` over `runs` runs, each after `prepare` (not timed).
template <typename Prepare, typename Work> double Best(int runs, Prepare prepare, Work work)
{
    double best = 0;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        work();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (i == 0 || seconds < best)
            best = seconds;
    }
    return best;
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

    const double gumbo = Best(
        runs, [] {},
        [&] {
            GumboOutput* output =
                gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
            gumbo_destroy_output(&kGumboDefaultOptions, output);
        });
    std::printf("gumbo %.4f\n", gumbo);

    kestrix::ProtectionEngine engine;
    engine.settings.StrengthLevel = 2;
    engine.SetProtectionParts(kestrix::partEncrypt);
    std::string text;
    const double secure = Best(
        runs, [&] { text = page; }, [&] { engine.SecurePage(text); });
    std::printf("secure-level2 %.4f\n", secure);

    kestrix::ProtectionSettings all;
    all.RemoveTbody = all.RemoveComments = all.ReplaceSimpleTags = true;
    all.RemoveEndP = all.RemoveEndTR = all.RemoveEndTD = true;
    all.RemoveGroupComments = all.MergeWhitespace = all.OptimizeCode = true;
    const double optimise = Best(
        runs, [&] { text = page; }, [&] { kestrix::OptimisePage(text, all); });
    std::printf("optimise %.4f\n", optimise);
    return 0;
}
