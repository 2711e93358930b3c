#include "JsonLines.h"

#include "CommandLine.h"
#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "protection/PageCharset.h"

#include <QFile>

#include <cstdio>

namespace kestrix {

namespace {

// The length of the well-formed UTF-8 sequence at `p`, or 0.
size_t Utf8Length(std::string_view s, size_t p)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned b = byte(p);
    size_t n = b < 0x80                 ? 1
               : b >= 0xC2 && b <= 0xDF ? 2
               : b >= 0xE0 && b <= 0xEF ? 3
               : b >= 0xF0 && b <= 0xF4 ? 4
                                        : 0;
    if (n == 0 || p + n > s.size())
        return 0;
    return IsValidUtf8(s.substr(p, n)) ? n : 0;
}

} // namespace

std::string JsonString(std::string_view bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        const size_t n = Utf8Length(bytes, i);
        if (n == 0) {
            out += "\\udc";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(bytes.substr(i, n));
            i += n;
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += char(c);
            }
        }
        ++i;
    }
    out += '"';
    return out;
}

void JsonObject::Key(std::string_view key)
{
    text_ += text_.empty() ? "{" : ",";
    text_ += JsonString(key);
    text_ += ':';
}

void JsonObject::Add(std::string_view key, const QString& text)
{
    Key(key);
    const QByteArray utf8 = text.toUtf8();
    text_ += JsonString(std::string_view(utf8.constData(), size_t(utf8.size())));
}

void JsonObject::Add(std::string_view key, const char* text)
{
    Key(key);
    text_ += JsonString(text);
}

void JsonObject::AddPath(std::string_view key, const QString& path)
{
    Key(key);
    const QByteArray bytes = QFile::encodeName(path);
    text_ += JsonString(std::string_view(bytes.constData(), size_t(bytes.size())));
}

void JsonObject::AddNumber(std::string_view key, qint64 value)
{
    Key(key);
    text_ += value < 0 ? std::string("null") : std::to_string(value);
}

JsonLinesWriter::JsonLinesWriter(const QString& path) : path_(path)
{
}

void JsonLinesWriter::Write(const JsonObject& object)
{
    text_ += object.Text();
    text_ += '\n';
}

void JsonLinesWriter::Finish()
{
    if (path_ == QLatin1String("-")) {
        if (std::fwrite(text_.data(), 1, text_.size(), stdout) != text_.size() ||
            std::fflush(stdout) != 0)
            throw Failure(
                Message("Unable to write %s", {QStringLiteral("standard output")}).toStdString());
        return;
    }
    WriteFileAtomically(path_, text_);
}

} // namespace kestrix
