// The loaders of secured pages, run by a real JavaScript engine (Node.js),
// must write back exactly the characters of the original body.
#include "protection/SecurePage.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace kestrix;

namespace {

struct Case
{
    const char* name;
    std::string head;
    std::string body;
    const char* label; // how the browser decodes the original body
};

std::string RunCommand(const std::string& command)
{
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        return "popen failed";
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
        output.append(buffer.data(), n);
    return output;
}

void WriteFile(const std::filesystem::path& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), std::streamsize(data.size()));
}

std::string AllBytesFrom(unsigned first, unsigned last)
{
    std::string s;
    for (unsigned b = first; b <= last; ++b)
        s += char(b);
    return s;
}

TEST(BrowserDecode, LoadersRebuildTheBodyInNode)
{
    ASSERT_EQ(std::system("command -v node >/dev/null 2>&1 && command -v python3 >/dev/null"), 0)
        << "Node.js and Python 3 are needed for this test (scripts/setup installs them)";
    const std::string script =
        std::string(KESTRIX_SOURCE_DIR) + "/tests/protection/decode_layers.js";
    // Removed however the test ends, a failed assertion included.
    struct TemporaryFolder
    {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("kestrix-decode-" + std::to_string(::getpid()));
        TemporaryFolder() { std::filesystem::create_directories(path); }
        ~TemporaryFolder()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    const std::filesystem::path& dir = folder.path;

    const std::string asciiBody = "\r\n<h1 class=\"t\">Title</h1>\n<p>Text with \"quotes\", "
                                  "<b>tags</b>, back\\slash, tab\t, &amp; 127:\x7F</p>\r\n";
    const std::string cp1252Body = "<p>\x93"
                                   "curly\x94 \x80 5, caf\xE9, \x81\x8D, " +
                                   AllBytesFrom(0x80, 0xFF) + "</p>";
    const std::string utf8Body = "<p>Caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\x96\xE7\x95\x8C "
                                 "\xF0\x9F\x98\x80 \xD0\x9F\xD1\x80\xD0\xB8</p>";
    const Case cases[] = {
        {"ascii", "<html><head></head><body>", asciiBody, "utf-8"},
        {"windows-1252 declared", "<html><head><meta charset=\"windows-1252\"></head><body>",
         cp1252Body, "windows-1252"},
        {"iso-8859-1 declared",
         "<html><head><meta http-equiv=\"Content-Type\" "
         "content=\"text/html; charset=iso-8859-1\"></head><body>",
         cp1252Body, "windows-1252"},
        {"undeclared 8-bit", "<html><head></head><body>", cp1252Body, "windows-1252"},
        {"utf-8 declared", "<html><head><meta charset=\"utf-8\"></head><body>", utf8Body, "utf-8"},
        {"utf-8 undeclared", "<html><head></head><body>", utf8Body, "utf-8"},
        {"empty body", "<html><body>", "", "utf-8"},
    };
    for (const Case& c : cases) {
        for (int level = 1; level <= 4; ++level) {
            ProtectionEngine engine;
            engine.SetProtectionParts(partEncrypt);
            engine.settings.StrengthLevel = level;
            std::string page = c.head + c.body + "</body></html>";
            ASSERT_TRUE(engine.SecurePage(page));
            WriteFile(dir / "secured.html", page);
            WriteFile(dir / "body.bin", c.body);
            // The characters a browser reads from the original body, decoded
            // by Python's codecs (windows-1252's five unassigned bytes map to
            // the controls of the same value, as in browsers).
            const std::string decode =
                "python3 -c \"import sys,codecs;"
                "codecs.register_error('c1',lambda e:(chr(e.object[e.start]),e.start+1));"
                "d=open(sys.argv[1],'rb').read().decode(sys.argv[2],'c1');"
                "open(sys.argv[3],'w',encoding='utf-8',newline='').write(d)\" '" +
                (dir / "body.bin").string() + "' '" + c.label + "' '" +
                (dir / "expected.txt").string() + "'";
            ASSERT_EQ(std::system(decode.c_str()), 0);
            const std::string output =
                RunCommand("node '" + script + "' '" + (dir / "secured.html").string() + "' '" +
                           (dir / "expected.txt").string() + "' 2>&1");
            EXPECT_EQ(output, "OK " + std::to_string(level) + "\n")
                << c.name << " at level " << level;
        }
    }
}

} // namespace
