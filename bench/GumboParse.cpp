// The HTML parser's own parse of a file, in this process, with the parser's
// default options (its own memory allocation): the yardstick of the
// optimisation's whole-process time in bench/cli-bench.sh.
//   GumboParse FILE [RUNS]   prints the best time of RUNS parses (default 3)
#include <gumbo.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc == 3 ? std::atoi(argv[2]) : 3;
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string page = ss.str();
    double best = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        GumboOutput* output =
            gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        gumbo_destroy_output(&kGumboDefaultOptions, output);
        if (i == 0 || seconds < best)
            best = seconds;
    }
    std::printf("%.4f\n", best);
    return 0;
}
