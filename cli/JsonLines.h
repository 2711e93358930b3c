// Reports as JSON Lines: one object per line, for build pipelines. One
// writer serves secure, restore and verify.
#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace kestrix {

class OutputStream;

// One JSON object, its members in the order they were added.
class JsonObject
{
public:
    void Add(std::string_view key, const QString& text);
    void Add(std::string_view key, const char* text);
    // A number; a negative one (not known) is written as null.
    void AddNumber(std::string_view key, qint64 value);
    void AddBool(std::string_view key, bool value);

    // The object's text, without a line break.
    std::string Text() const { return text_.empty() ? "{}" : text_ + "}"; }

private:
    void Key(std::string_view key);
    std::string text_;
};

// A JSON string literal of text: UTF-8 as it is (escaped where JSON needs
// it); a byte that is not part of well-formed UTF-8 is written as U+FFFD, so
// that the report stays valid for every JSON parser. The exact bytes of a
// name go beside it (see PercentEncoded).
std::string JsonString(std::string_view bytes);

// Bytes as text that any parser keeps: printable ASCII other than "%" as it
// is, every other byte as "%" and two upper-case hex digits (as URLs escape
// bytes, so that e.g. Python's urllib.parse.unquote_to_bytes gives them back).
std::string PercentEncoded(std::string_view bytes);

// The PATH arguments of a command, and where each file of its work list
// lies below them.
class ReportRoots
{
public:
    explicit ReportRoots(const QStringList& arguments);
    // The index of the first argument that holds `path` (an absolute path of
    // the work list): the argument itself, or a folder above it.
    int IndexOf(const QString& path) const;
    const QString& Argument(int index) const { return arguments_[index]; }
    // `path` relative to the argument at `index`; a file argument is its
    // own name.
    QString Relative(const QString& path, int index) const;
    // Likewise for the path's bytes as the system has them.
    QByteArray RelativeNative(const QByteArray& nativePath, int index) const;

private:
    QStringList arguments_;
    QStringList absolute_;
};

// What a command did with one file.
struct ReportEntry
{
    QString path; // absolute, as the work list holds it
    // The path's bytes when they are not valid text (the path then holds
    // replacement characters); empty otherwise.
    QByteArray nativePath;
    const char* outcome = "passed-over";
    QString message;
    qint64 bytesBefore = -1;
    qint64 bytesAfter = -1;
    int level = -1;
    int parts = -1;
};

// Writes a report as the run goes. The target is opened (or its failure
// thrown) when the writer is made, before any file is touched; a file target
// gets its name only when Finish succeeds, standard output ("-") gets each
// line as it is written. Lines are written whole, one at a time.
class JsonLinesWriter
{
public:
    // Throws Failure ("Unable to write %s" with the reason) when `path`
    // cannot be written. `dryRun` marks every line of a run that changed
    // nothing.
    JsonLinesWriter(const QString& path, const QStringList& roots, bool dryRun = false);
    ~JsonLinesWriter();

    const ReportRoots& Roots() const { return roots_; }

    // One line for a file: root, path (and path_bytes when the path's bytes
    // are not valid text), outcome, message, bytes_before, bytes_after, level, parts.
    void WriteFile(const ReportEntry& entry);
    // The last line: {"outcome":"totals", name: count...}.
    void WriteTotals(std::initializer_list<std::pair<const char*, qint64>> counts);
    // Puts a file target in place. Throws Failure when any line could not be
    // written (a failed write does not stop the run; later lines are dropped).
    void Finish();

private:
    void Write(const JsonObject& object);

    ReportRoots roots_;
    bool dryRun_;
    std::mutex mutex_;
    std::unique_ptr<OutputStream> out_;
    std::string failure_;
};

} // namespace kestrix
