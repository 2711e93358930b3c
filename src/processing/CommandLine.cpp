#include "processing/CommandLine.h"

#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "support/Translation.h"
#include "support/WebHelpers.h"

#include <QFileInfo>

namespace kestrix {

QStringList SplitCommandLine(const QString& text)
{
    QStringList tokens;
    const qsizetype n = text.size();
    auto separates = [](QChar c) { return c.unicode() >= 1 && c.unicode() <= 32; };
    qsizetype i = 0;
    while (i < n) {
        while (i < n && separates(text[i]))
            ++i;
        if (i >= n)
            break;
        QString token;
        if (text[i] == u'"') {
            // Up to the next lone quote; a doubled quote is one quote.
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        token += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                token += text[i++];
            }
        } else {
            while (i < n && !separates(text[i]))
                token += text[i++];
        }
        tokens << token;
    }
    return tokens;
}

namespace {

// "-" always starts a switch. "/" does too, except where the token is a
// path of this file system: one with a further "/", or one that names an
// existing entry ("/site/index.html" is a name, "/e" and "/Z" are switches).
bool IsSwitch(const QString& token)
{
    if (token.startsWith(u'-'))
        return true;
    if (!token.startsWith(u'/'))
        return false;
    return token.indexOf(u'/', 1) < 0 && !QFileInfo::exists(token);
}

} // namespace

CommandLine ParseCommandLine(const QStringList& tokens)
{
    CommandLine line;
    for (qsizetype i = 1; i < tokens.size(); ++i) {
        const QString& token = tokens[i];
        if (IsSwitch(token)) {
            const QStringView name = QStringView(token).mid(1);
            if (name == u"e")
                line.parts |= partEncrypt;
            else if (name == u"a")
                line.parts |= partLimitAccess;
            else if (name == u"o")
                line.parts |= partOptimise;
            else if (name == u"i")
                line.mode |= cmKeepOriginal;
            if (name == u"e" || name == u"a" || name == u"o")
                line.mode &= ~CommandLineMode(cmOpenWindow);
            continue;
        }
        if (line.InputName.isEmpty())
            line.InputName = token;
        else if (line.OutputName.isEmpty())
            line.OutputName = token;
        else
            throw Failure(
                FormatMessage(Tr("Too many files specified (%s)"), {token}).toStdString());
    }
    if (line.InputName.isEmpty() || !line.parts)
        line.mode |= cmOpenWindow;
    if (IsWebAddress(line.InputName)) {
        line.mode |= cmWebAddress;
        line.mode &= ~CommandLineMode(cmKeepOriginal);
    }
    return line;
}

} // namespace kestrix
