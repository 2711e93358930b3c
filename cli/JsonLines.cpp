#include "JsonLines.h"

#include "CommandLine.h"
#include "platform/Errors.h"
#include "platform/OutputStream.h"
#include "protection/PageCharset.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

std::string_view View(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

QString AbsolutePath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
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
            out += "\\ufffd";
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

std::string PercentEncoded(std::string_view bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char byte : bytes) {
        const unsigned char c = static_cast<unsigned char>(byte);
        if (c > 0x20 && c < 0x7F && c != '%') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
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
    text_ += JsonString(View(text.toUtf8()));
}

void JsonObject::Add(std::string_view key, const char* text)
{
    Key(key);
    text_ += JsonString(text);
}

void JsonObject::AddNumber(std::string_view key, qint64 value)
{
    Key(key);
    text_ += value < 0 ? std::string("null") : std::to_string(value);
}

void JsonObject::AddBool(std::string_view key, bool value)
{
    Key(key);
    text_ += value ? "true" : "false";
}

ReportRoots::ReportRoots(const QStringList& arguments) : arguments_(arguments)
{
    for (const QString& argument : arguments)
        absolute_.append(AbsolutePath(argument));
}

int ReportRoots::IndexOf(const QString& path) const
{
    for (int i = 0; i < absolute_.size(); ++i) {
        const QString& root = absolute_[i];
        if (path == root || root == QLatin1String("/") ||
            (path.startsWith(root) && path.size() > root.size() && path[root.size()] == u'/'))
            return i;
    }
    return 0;
}

QString ReportRoots::Relative(const QString& path, int index) const
{
    const QString& root = absolute_[index];
    if (path == root)
        return QFileInfo(path).fileName();
    return QDir(root).relativeFilePath(path);
}

QByteArray ReportRoots::RelativeNative(const QByteArray& nativePath, int index) const
{
    const QByteArray root = QFile::encodeName(absolute_[index]);
    if (nativePath == root)
        return nativePath.mid(nativePath.lastIndexOf('/') + 1);
    const qsizetype skip = root.endsWith('/') ? root.size() : root.size() + 1;
    return nativePath.startsWith(root) ? nativePath.mid(skip) : nativePath;
}

JsonLinesWriter::JsonLinesWriter(const QString& path, const QStringList& roots, bool dryRun)
    : roots_(roots), dryRun_(dryRun),
      out_(path == QLatin1String("-") ? std::make_unique<OutputStream>()
                                      : std::make_unique<OutputStream>(path))
{
}

JsonLinesWriter::~JsonLinesWriter() = default;

void JsonLinesWriter::Write(const JsonObject& object)
{
    std::lock_guard lock(mutex_);
    if (!failure_.empty())
        return;
    try {
        out_->Write(object.Text() + '\n');
    } catch (const Failure& failure) {
        failure_ = failure.what();
    }
}

void JsonLinesWriter::WriteFile(const ReportEntry& entry)
{
    const int index = roots_.IndexOf(entry.path);
    const QString& root = roots_.Argument(index);
    JsonObject object;
    object.Add("root", root);
    object.Add("path", roots_.Relative(entry.path, index));
    // The exact bytes of a name that is not valid text. (The arguments
    // themselves reach the program as text already.)
    if (!entry.nativePath.isEmpty() && !IsValidUtf8(View(entry.nativePath)))
        object.Add("path_bytes",
                   PercentEncoded(View(roots_.RelativeNative(entry.nativePath, index))).c_str());
    object.Add("outcome", entry.outcome);
    object.Add("message", entry.message);
    object.AddNumber("bytes_before", entry.bytesBefore);
    object.AddNumber("bytes_after", entry.bytesAfter);
    object.AddNumber("level", entry.level);
    object.AddNumber("parts", entry.parts);
    if (dryRun_)
        object.AddBool("dry_run", true);
    Write(object);
}

void JsonLinesWriter::WriteTotals(std::initializer_list<std::pair<const char*, qint64>> counts)
{
    JsonObject object;
    object.Add("outcome", "totals");
    for (const auto& [name, count] : counts)
        object.AddNumber(name, count);
    if (dryRun_)
        object.AddBool("dry_run", true);
    Write(object);
}

void JsonLinesWriter::Finish()
{
    std::lock_guard lock(mutex_);
    if (failure_.empty()) {
        try {
            out_->Commit();
        } catch (const Failure& failure) {
            failure_ = failure.what();
        }
    }
    if (!failure_.empty())
        throw Failure(failure_);
}

} // namespace kestrix
