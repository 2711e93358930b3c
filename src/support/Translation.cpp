#include "support/Translation.h"
#include "platform/Text.h"

#include "platform/MessageTranslator.h"

#include "platform/Errors.h"

#include <QCoreApplication>
#include <QFile>

namespace kestrix {

namespace {

const char numericConstantTooLarge[] = "Numeric constant too large.";

// Section names and keys compared without regard to letter case: ASCII
// letters directly, other text (when it is valid text in the locale's
// encoding) character by character, each letter to its one upper-case
// letter, as an 8-bit code page's upper-casing does: "ß" stays "ß" rather
// than becoming "SS", so no two texts of different length become one key.
std::string Fold(std::string_view s)
{
    bool ascii = true;
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (!ascii) {
        const QByteArray bytes(s.data(), qsizetype(s.size()));
        const QString text = QString::fromLocal8Bit(bytes);
        if (text.toLocal8Bit() == bytes) {
            QList<uint> codePoints = text.toUcs4();
            for (uint& c : codePoints)
                c = QChar::toUpper(char32_t(c));
            return QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData()),
                                     codePoints.size())
                .toLocal8Bit()
                .toStdString();
        }
    }
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

[[noreturn]] void ThrowNumericConstantTooLarge()
{
    // The message is itself translated, unless its own translation is the
    // one that is broken.
    static thread_local bool reporting = false;
    std::string message = numericConstantTooLarge;
    if (!reporting) {
        reporting = true;
        try {
            message = TranslateString(numericConstantTooLarge);
        } catch (const Failure&) {
        }
        reporting = false;
    }
    throw Failure(message);
}

bool IsOctal(char c)
{
    return c >= '0' && c <= '7';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string ToBytes(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

QString FromBytes(const std::string& bytes)
{
    return QString::fromLocal8Bit(bytes.data(), qsizetype(bytes.size()));
}

QString& TitleStorage()
{
    static QString title = QStringLiteral("Marquell Kestrix v2.0");
    return title;
}

} // namespace

// ---- the table ----------------------------------------------------------

void TranslationTable::Insert(std::string_view section, std::string_view key,
                              std::string_view value)
{
    // Entries are name-value pairs split at the first "=": a key holding
    // one cannot be stored.
    if (key.find('=') != std::string_view::npos)
        return;
    sections_[Fold(section)][Fold(key)] = std::string(value);
}

const std::string* TranslationTable::Find(std::string_view section, std::string_view key) const
{
    if (sections_.empty() || key.find('=') != std::string_view::npos)
        return nullptr;
    const auto s = sections_.find(Fold(section));
    if (s == sections_.end())
        return nullptr;
    const auto e = s->second.find(Fold(key));
    return e == s->second.end() ? nullptr : &e->second;
}

std::string TranslationTable::Translate(std::string_view text, std::string_view section) const
{
    if (sections_.empty())
        return std::string(text);
    const std::string key = EscapeText(text);
    const std::string* value = Find(section, key);
    return UnescapeText(value ? std::string_view(*value) : std::string_view(key));
}

size_t TranslationTable::Size() const
{
    size_t n = 0;
    for (const auto& [name, entries] : sections_)
        n += entries.size();
    return n;
}

void TranslationTable::Load(std::string_view fileText)
{
    std::string section;
    std::string pendingKey;
    size_t pos = 0;
    while (pos < fileText.size()) {
        // Lines end with CR LF, LF or CR.
        size_t end = pos;
        while (end < fileText.size() && fileText[end] != '\n' && fileText[end] != '\r')
            ++end;
        const std::string_view line = Trim(fileText.substr(pos, end - pos));
        pos = end;
        if (pos < fileText.size()) {
            if (fileText[pos] == '\r' && pos + 1 < fileText.size() && fileText[pos + 1] == '\n')
                pos += 2;
            else
                pos += 1;
        }

        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '<') {
            // "<", anything without "-", "//", the name, "-", anything.
            section.clear();
            const size_t slashes = line.find("//");
            const size_t p = slashes == std::string_view::npos ? 1 : slashes + 2;
            const size_t q = line.find('-');
            if (q != std::string_view::npos && q > p)
                section = std::string(line.substr(p, q - p));
            continue;
        }
        if (line.substr(0, 2) == "E=") {
            pendingKey = std::string(Trim(line.substr(2)));
            continue;
        }
        if (line.substr(0, 2) == "T=") {
            const std::string_view translation = Trim(line.substr(2));
            if (!pendingKey.empty() && !translation.empty() && translation != "*")
                Insert(section, pendingKey, translation);
            pendingKey.clear();
            continue;
        }
    }
}

// ---- escapes --------------------------------------------------------------

std::string EscapeText(std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 8);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case 7:
            out += "\\a";
            break;
        case 8:
            out += "\\b";
            break;
        case 9:
            out += "\\t";
            break;
        case 10:
            out += "\\n";
            break;
        case 11:
            out += "\\v";
            break;
        case 12:
            out += "\\f";
            break;
        case 13:
            out += "\\r";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 32) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += ch;
            }
        }
    }
    return out;
}

std::string UnescapeText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (c != '\\' || i + 1 == n) {
            out += c;
            ++i;
            continue;
        }
        const char e = text[i + 1];
        i += 2;
        switch (e) {
        case '"':
        case '\'':
        case '?':
        case '\\':
            out += e;
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'v':
            out += '\v';
            break;
        case 'x': {
            if (i == n) {
                out += "\\x";
                break;
            }
            int value = HexValue(text[i]);
            if (value < 0) {
                // Not a number: "\x" stays, decoding goes on with the character.
                out += "\\x";
                break;
            }
            ++i;
            if (i < n && HexValue(text[i]) >= 0)
                value = value * 16 + HexValue(text[i++]);
            out += char(value);
            break;
        }
        default:
            if (IsOctal(e)) {
                int value = e - '0';
                for (int k = 0; k < 2 && i < n && IsOctal(text[i]); ++k)
                    value = value * 8 + (text[i++] - '0');
                if (value > 255)
                    ThrowNumericConstantTooLarge();
                out += char(value);
            } else {
                out += '\\';
                out += e;
            }
        }
    }
    return out;
}

// ---- loading ----------------------------------------------------------------

bool LoadLanguageFile(const QString& path, TranslationTable& table)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    // A file that cannot be read to its end is not used at all, rather than
    // half of it.
    if (file.error() != QFileDevice::NoError)
        return false;
    table.Load(std::string_view(bytes.constData(), size_t(bytes.size())));
    return true;
}

bool LoadLanguageFile(const QString& path)
{
    TranslationTable table;
    const bool loaded = LoadLanguageFile(path, table);
    ApplicationTranslationTable() = std::move(table);
    return loaded;
}

QString ApplicationLanguageFilePath()
{
    const QString folder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return folder.isEmpty() ? QString()
                            : folder + QLatin1Char('/') + QLatin1String(languageFileName);
}

void LoadApplicationLanguageFile()
{
    // The engine's messages are looked up in the same table.
    SetMessageTranslator(
        [](std::string_view english) { return TranslateString(english, stringTableSection); });
    const QString path = ApplicationLanguageFilePath();
    if (path.isEmpty())
        return;
    LoadLanguageFile(path);
}

TranslationTable& ApplicationTranslationTable()
{
    static TranslationTable table;
    return table;
}

std::string TranslateString(std::string_view text, std::string_view section)
{
    return ApplicationTranslationTable().Translate(text, section);
}

QString TranslateQString(const QString& text, std::string_view section)
{
    if (ApplicationTranslationTable().Empty())
        return text;
    return FromBytes(TranslateString(ToBytes(text), section));
}

QString ApplicationTitle()
{
    return TitleStorage();
}

void SetApplicationTitle(const QString& title)
{
    TitleStorage() = title;
}

} // namespace kestrix
