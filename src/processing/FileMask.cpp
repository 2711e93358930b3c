#include "processing/FileMask.h"

#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "support/Translation.h"

namespace kestrix {

namespace {

constexpr int maximumAnyRuns = 30;

char16_t Upper(char16_t c)
{
    return QChar::toUpper(c);
}

} // namespace

FileMask::FileMask(const QString& mask) : text_(mask)
{
    const qsizetype n = mask.size();
    int anyRuns = 0;
    auto fail = [&](qsizetype index) {
        if (errorPosition_ == 0)
            errorPosition_ = int(index) + 1;
    };
    for (qsizetype i = 0; i < n && errorPosition_ == 0; ++i) {
        const char16_t c = mask[i].unicode();
        if (c == u'*') {
            if (++anyRuns > maximumAnyRuns) {
                fail(i);
                break;
            }
            // "**" is one run.
            if (tokens_.empty() || tokens_.back().kind != Token::Kind::AnyRun)
                tokens_.emplace_back(Token::Kind::AnyRun);
        } else if (c == u'?') {
            tokens_.emplace_back(Token::Kind::AnyOne);
        } else if (c == u'[') {
            Token set(Token::Kind::Set);
            qsizetype j = i + 1;
            if (j < n && mask[j] == QLatin1Char('!')) {
                set.negate = true;
                ++j;
            }
            bool havePrevious = false;
            for (; j < n && mask[j] != QLatin1Char(']'); ++j) {
                const char16_t m = Upper(mask[j].unicode());
                if (m == u'-' && j + 1 < n && mask[j + 1] != QLatin1Char(']')) {
                    // A range from the character before to the one after.
                    if (!havePrevious) {
                        fail(j);
                        break;
                    }
                    // "a-c-e" reads as a-c and c-e.
                    set.ranges.back().second = Upper(mask[++j].unicode());
                } else if (m == u'-' && !havePrevious) {
                    fail(j);
                    break;
                } else {
                    set.ranges.push_back({m, m});
                    havePrevious = true;
                }
            }
            if (errorPosition_)
                break;
            if (j >= n || set.ranges.empty()) {
                // Unclosed: the "]" is missing at the end; empty: at the "]".
                fail(j);
                break;
            }
            tokens_.push_back(std::move(set));
            i = j;
        } else {
            Token literal(Token::Kind::Literal);
            literal.literal = Upper(c);
            tokens_.push_back(std::move(literal));
        }
    }
}

bool FileMask::TokenFits(const Token& token, char16_t upper) const
{
    switch (token.kind) {
    case Token::Kind::Literal:
        return token.literal == upper;
    case Token::Kind::AnyOne:
        return true;
    case Token::Kind::Set: {
        bool inside = false;
        for (const auto& [from, to] : token.ranges)
            if (upper >= from && upper <= to) {
                inside = true;
                break;
            }
        return inside != token.negate;
    }
    case Token::Kind::AnyRun:
        break;
    }
    return false;
}

bool FileMask::Matches(QStringView name) const
{
    if (errorPosition_)
        throw Failure(FormatMessage(Tr("'%s' is an invalid mask at (%d)"),
                                    {text_, QString::number(errorPosition_)})
                          .toStdString());
    // Greedy matching with one remembered "*": on a mismatch the last "*"
    // takes one more character and the rest is tried again.
    const size_t count = tokens_.size();
    const qsizetype length = name.size();
    size_t t = 0;
    qsizetype i = 0;
    size_t starToken = size_t(-1);
    qsizetype starName = 0;
    while (i < length) {
        if (t < count && tokens_[t].kind == Token::Kind::AnyRun) {
            starToken = t++;
            starName = i;
        } else if (t < count && TokenFits(tokens_[t], Upper(name[i].unicode()))) {
            ++t;
            ++i;
        } else if (starToken != size_t(-1)) {
            t = starToken + 1;
            i = ++starName;
        } else {
            return false;
        }
    }
    while (t < count && tokens_[t].kind == Token::Kind::AnyRun)
        ++t;
    return t == count;
}

bool FileNameFitsMask(const QString& name, const QString& mask)
{
    return FileMask(mask).Matches(name);
}

QStringList SplitFilter(const QString& filter)
{
    return filter.split(QLatin1Char(';'));
}

FileFilter::FileFilter(const QString& filter)
{
    for (const QString& mask : SplitFilter(filter))
        masks_.emplace_back(mask);
}

bool FileFilter::Matches(QStringView name) const
{
    for (const FileMask& mask : masks_)
        if (mask.Matches(name))
            return true;
    return false;
}

} // namespace kestrix
