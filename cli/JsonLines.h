// Reports as JSON Lines: one object per line, for build pipelines.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace kestrix {

// One JSON object, its members in the order they were added.
class JsonObject
{
public:
    void Add(std::string_view key, const QString& text);
    void Add(std::string_view key, const char* text);
    // A file name as the system holds it, bytes that are not UTF-8 included.
    void AddPath(std::string_view key, const QString& path);
    // A number; a negative one (not known) is written as null.
    void AddNumber(std::string_view key, qint64 value);

    // The object's text, without a line break.
    std::string Text() const { return text_.empty() ? "{}" : text_ + "}"; }

private:
    void Key(std::string_view key);
    std::string text_;
};

// A JSON string literal of bytes: UTF-8 as it is (escaped where JSON
// needs it), each byte that is not part of well-formed UTF-8 as the escape
// \uDC80 to \uDCFF (a lone low surrogate, which JSON allows to be written),
// so that no name is lost or confused with another.
std::string JsonString(std::string_view bytes);

// Collects the lines of a report and writes them to a file at the end,
// atomically ("-" is standard output).
class JsonLinesWriter
{
public:
    explicit JsonLinesWriter(const QString& path);
    void Write(const JsonObject& object);
    // Writes the file; throws Failure when it cannot.
    void Finish();

private:
    QString path_;
    std::string text_;
};

} // namespace kestrix
