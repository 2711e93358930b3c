// Writes a benchmark page to a file, for the scripts that time the
// command-line tool and other programs on it.
//
//   WritePage BYTES FILE        the page the Google Benchmark programs use
//   WritePage --std BYTES FILE  the pinned page: the bodies (from the first
//       "<body" and its ">" to the last "</body>") of every .html file under
//       the Rust documentation's std/ folder, in byte order of their paths,
//       joined and cut at BYTES, inside a fixed UTF-8 head and tail. The same
//       bytes on every machine with the same documentation installed.
#include "Corpus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string RustDocumentation()
{
    std::string sysroot;
    if (FILE* pipe = popen("rustc --print sysroot 2>/dev/null", "r")) {
        char line[4096] = {};
        if (fgets(line, sizeof line, pipe))
            sysroot = line;
        pclose(pipe);
    }
    while (!sysroot.empty() && (sysroot.back() == '\n' || sysroot.back() == '\r'))
        sysroot.pop_back();
    return sysroot.empty() ? std::string() : sysroot + "/share/doc/rust/html";
}

// The pinned page, or an empty string when the documentation is missing or
// too small.
std::string PinnedPage(size_t bytes)
{
    namespace fs = std::filesystem;
    const fs::path root = RustDocumentation() + "/std";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        std::fprintf(stderr, "no Rust documentation at %s\n", root.c_str());
        return {};
    }
    std::vector<std::string> paths;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        if (it->is_regular_file(ec) && it->path().extension() == ".html")
            paths.push_back(it->path().string());
    }
    // Byte order of the whole path, as `LC_ALL=C sort` gives it.
    std::sort(paths.begin(), paths.end());
    std::string bodies;
    for (const std::string& path : paths) {
        if (bodies.size() >= bytes)
            break;
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string page = ss.str();
        const size_t start = page.find("<body");
        const size_t end = page.rfind("</body>");
        if (start == std::string::npos || end == std::string::npos || end < start)
            continue;
        const size_t open = page.find('>', start);
        if (open == std::string::npos || open > end)
            continue;
        bodies.append(page, open + 1, end - open - 1);
    }
    if (bodies.size() < bytes) {
        std::fprintf(stderr, "the documentation has only %zu bytes of bodies\n", bodies.size());
        return {};
    }
    bodies.resize(bytes);
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>t</title></head><body>" +
           bodies + "</body></html>";
}

bool ParseSize(const char* text, size_t& size)
{
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (!end || *end != '\0' || value == 0)
        return false;
    size = size_t(value);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const bool pinned = argc == 4 && std::strcmp(argv[1], "--std") == 0;
    if (argc != 3 && !pinned) {
        std::fprintf(stderr, "usage: %s [--std] BYTES FILE\n", argv[0]);
        return 2;
    }
    size_t size = 0;
    if (!ParseSize(argv[argc - 2], size)) {
        std::fprintf(stderr, "%s: BYTES must be a positive number\n", argv[0]);
        return 2;
    }
    const std::string page = pinned ? PinnedPage(size) : bench::MakePage(size);
    if (page.empty())
        return 1;
    const char* name = argv[argc - 1];
    FILE* file = std::fopen(name, "wb");
    if (!file) {
        std::perror(name);
        return 1;
    }
    const bool written = std::fwrite(page.data(), 1, page.size(), file) == page.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(name);
        return 1;
    }
    return 0;
}
