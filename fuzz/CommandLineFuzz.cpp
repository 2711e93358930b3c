// Reads arbitrary bytes as the program's command line: splitting and parsing
// may refuse with a message but never crash, the parsed modes are
// consistent, and a token list re-joined with quotes splits back to itself.
#include "platform/Errors.h"
#include "processing/CommandLine.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// Quotes a token so that SplitCommandLine gives it back whole.
QString Quoted(QString token)
{
    token.replace(u'"', QStringLiteral("\"\""));
    return u'"' + token + u'"';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList tokens = kestrix::SplitCommandLine(text);
    for (const QString& token : tokens)
        Check(!token.isEmpty() || text.contains(u'"'), "only a quoted token may be empty");

    QStringList joined;
    for (const QString& token : tokens)
        joined << Quoted(token);
    Check(kestrix::SplitCommandLine(joined.join(u' ')) == tokens,
          "quoted tokens split back to themselves");

    QStringList withProgram = tokens;
    withProgram.prepend(QStringLiteral("kestrix"));
    try {
        const kestrix::CommandLine line = kestrix::ParseCommandLine(withProgram);
        if (line.mode & kestrix::cmWebAddress)
            Check(!(line.mode & kestrix::cmKeepOriginal), "a web address keeps no original");
        if (!(line.mode & kestrix::cmOpenWindow))
            Check(!line.InputName.isEmpty() && line.parts, "a batch has an input name and a part");
    } catch (const kestrix::Failure&) {
    }
    return 0;
}
