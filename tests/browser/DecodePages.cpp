// The browser test's native decoder: reads secured pages back with the
// program's own decoder, for comparison with what the browser's loaders
// write. Each line of LIST is "SECURED<TAB>OUT"; the content read back from
// SECURED (the settings' level of loaders undone) is written to OUT as
// UTF-16LE code units, which Node reads as the same JavaScript string. A
// page that cannot be read back gets a line "SECURED: reason" on standard
// output instead. Exit status 0 when every page was read back.
//
//   DecodePages LIST
#include "protection/PageDecoder.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: DecodePages LIST\n";
        return 2;
    }
    std::ifstream list(argv[1]);
    std::string line;
    int failed = 0;
    kestrix::DecodedPage decoded;
    while (std::getline(list, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string in = line.substr(0, tab), out = line.substr(tab + 1);
        std::ifstream file(in, std::ios::binary);
        const std::string page((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
        const kestrix::DecodeProblem problem = kestrix::DecodeSecuredPage(page, decoded);
        if (!file || problem != kestrix::DecodeProblem::None) {
            std::cout << in << ": "
                      << (file ? kestrix::DecodeProblemText(problem) : "cannot be read") << "\n";
            ++failed;
            continue;
        }
        std::string bytes;
        bytes.reserve(decoded.units.size() * 2);
        for (char16_t u : decoded.units) {
            bytes += char(u & 0xFF);
            bytes += char(u >> 8);
        }
        std::ofstream(out, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    return failed == 0 ? 0 : 1;
}
