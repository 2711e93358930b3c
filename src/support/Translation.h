// Translation of user-visible texts from the language file "lang.txt".
//
// The file pairs English texts ("E=" lines) with their translations ("T="
// lines) inside named sections ("<" header lines). Keys and values are kept
// as the file's bytes (8-bit text in the locale's encoding, UTF-8 on Linux)
// and converted to QString only at the Qt boundary.
#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <unordered_map>

namespace kestrix {

// The section of every run-time message.
inline constexpr std::string_view stringTableSection = "STRING_TABLE";
// The section of the application object (its title).
inline constexpr std::string_view applicationSection = "Application";
// The language file's name, looked for in the executable's folder.
inline constexpr const char* languageFileName = "lang.txt";

// Sections of entries: section name -> English key -> translation. Section
// names and keys are compared without regard to letter case; both are kept
// in escaped form exactly as the file writes them, and a value is decoded
// only when it is looked up.
class TranslationTable
{
public:
    // Adds the entries of a language file's text. Later entries replace
    // earlier ones with the same key (in any letter case).
    void Load(std::string_view fileText);
    // Stores one entry; an existing key of the section (any case) is replaced.
    // A key holding "=" is never stored or found (entries are name=value).
    void Insert(std::string_view section, std::string_view key, std::string_view value);
    // The stored (still escaped) translation of a key, or nullptr.
    const std::string* Find(std::string_view section, std::string_view key) const;
    // The translation of an English text; the text itself when the section
    // holds no entry for it. Throws Failure ("Numeric constant too large.")
    // when the stored translation holds an octal escape above 255.
    std::string Translate(std::string_view text, std::string_view section) const;

    void Clear() { sections_.clear(); }
    bool Empty() const { return sections_.empty(); }
    // Number of entries in all sections.
    size_t Size() const;

private:
    using Entries = std::unordered_map<std::string, std::string>;
    std::unordered_map<std::string, Entries> sections_; // keyed by folded names
};

// The key a text is stored under: control bytes, the double quote and the
// backslash written as C escapes ("\n", "\x1b", "\\", ...); every other byte
// unchanged.
std::string EscapeText(std::string_view text);
// Decodes the escapes of a stored translation. Throws Failure with the
// message "Numeric constant too large." for an octal escape above 255.
std::string UnescapeText(std::string_view text);

// Fills `table` from a language file. False, with the table unchanged, when
// the file is missing or cannot be read to its end.
bool LoadLanguageFile(const QString& path, TranslationTable& table);
// Fills the application's table from a language file (replacing what it
// held); a missing file leaves it empty and says nothing.
bool LoadLanguageFile(const QString& path);
// The language file the program loads: "lang.txt" in the folder of the
// running executable (empty without an application object).
QString ApplicationLanguageFilePath();
// Loads "lang.txt" from the folder of the running executable into the
// application's table, once, before any window exists.
void LoadApplicationLanguageFile();
// The table every lookup uses. Filled at start-up and read-only afterwards;
// tests may replace its content.
TranslationTable& ApplicationTranslationTable();

// The translation of an English text (bytes, the language file's 8-bit
// encoding) in a section; the text itself when there is none.
std::string TranslateString(std::string_view text, std::string_view section = stringTableSection);
// The same at the Qt boundary: the text is converted to and from the
// locale's 8-bit encoding (UTF-8 on Linux).
QString TranslateQString(const QString& text, std::string_view section = stringTableSection);
// Shorthand for a run-time message given as an ASCII literal.
inline QString Tr(const char* english)
{
    return TranslateQString(QString::fromLatin1(english), stringTableSection);
}

// The application title: "Marquell Kestrix v2.0" until it is set, and its
// translation from the section "Application" once TranslateApplication ran.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

} // namespace kestrix
