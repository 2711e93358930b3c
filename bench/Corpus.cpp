#include "Corpus.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace bench {

namespace {

// Bodies of real pages from an installed documentation tree, if any.
std::string RealBodies(size_t want)
{
    namespace fs = std::filesystem;
    std::vector<std::string> roots;
    if (const char* env = std::getenv("KESTRIX_BENCH_HTML"))
        roots.push_back(env);
    // The Rust documentation, about 100,000 real pages, where installed.
    if (FILE* pipe = popen("rustc --print sysroot 2>/dev/null", "r")) {
        char line[4096] = {};
        if (fgets(line, sizeof line, pipe)) {
            std::string sysroot(line);
            while (!sysroot.empty() && (sysroot.back() == '\n' || sysroot.back() == '\r'))
                sysroot.pop_back();
            roots.push_back(sysroot + "/share/doc/rust/html");
        }
        pclose(pipe);
    }
    roots.push_back("/usr/share/doc");
    std::string out;
    for (const std::string& root : roots) {
        if (root.empty() || !fs::exists(root))
            continue;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec);
             it != fs::recursive_directory_iterator() && out.size() < want; it.increment(ec)) {
            if (ec)
                break;
            if (!it->is_regular_file(ec) || it->path().extension() != ".html")
                continue;
            std::ifstream in(it->path(), std::ios::binary);
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
            out.append(page, open + 1, end - open - 1);
        }
        if (out.size() >= want)
            break;
    }
    return out;
}

std::string GeneratedBody(size_t want, bool withEdits)
{
    std::string out;
    int n = 0;
    while (out.size() < want) {
        ++n;
        out += "<div class=\"section\" id=\"s" + std::to_string(n) + "\">\r\n";
        out += "<h2>Section " + std::to_string(n) + "</h2>\r\n";
        out += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod "
               "tempor incididunt ut labore et dolore magna aliqua. Caf\xC3\xA9 \xE2\x82\xAC "
               "5.</p>\r\n";
        out += "<table><tr><td>cell</td><td>value " + std::to_string(n) + "</td></tr></table>\r\n";
        if (withEdits)
            out += "<!-- note " + std::to_string(n) +
                   " --><p><strong>Strong</strong> and <em>em</em> text.</p>\r\n";
        out += "</div>\r\n";
    }
    return out;
}

std::string Wrap(const std::string& body)
{
    return "<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"><title>Bench</title></head>\r\n"
           "<body class=\"main\">\r\n" +
           body + "\r\n</body></html>\r\n";
}

} // namespace

std::string MakePage(size_t size)
{
    std::string body = RealBodies(size);
    if (body.size() < size)
        body += GeneratedBody(size - body.size(), true);
    body.resize(std::min(body.size(), size));
    return Wrap(body);
}

const std::string& CachedPage(size_t size)
{
    static std::map<size_t, std::string> pages;
    auto it = pages.find(size);
    if (it == pages.end())
        it = pages.emplace(size, MakePage(size)).first;
    return it->second;
}

std::string MakePlainPage(size_t size)
{
    return Wrap(GeneratedBody(size, false));
}

} // namespace bench
