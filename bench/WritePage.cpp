// Writes a benchmark page (the same page the benchmarks use) to a file, for
// the scripts that time the command-line tool and other programs on it.
#include "Corpus.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BYTES FILE\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const unsigned long long size = std::strtoull(argv[1], &end, 10);
    if (!end || *end != '\0' || size == 0) {
        std::fprintf(stderr, "%s: BYTES must be a positive number\n", argv[0]);
        return 2;
    }
    const std::string page = bench::MakePage(size_t(size));
    FILE* file = std::fopen(argv[2], "wb");
    if (!file) {
        std::perror(argv[2]);
        return 1;
    }
    const bool written = std::fwrite(page.data(), 1, page.size(), file) == page.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
