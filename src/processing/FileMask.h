// File-name masks: "*" for any run of characters, "?" for one character,
// "[...]" for one character of a set (with "a-z" ranges and a leading "!"
// inverting it), everything else for itself; letters compare without regard
// to case.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace kestrix {

// One mask, parsed once and tested against many names.
class FileMask
{
public:
    explicit FileMask(const QString& mask);

    // True when the whole name fits the whole mask. Throws Failure
    // "'%s' is an invalid mask at (%d)" (the mask and the 1-based position of
    // the fault) for a mask with an unclosed or empty set, a "-" with no
    // character before it in a set, or more than 30 "*".
    bool Matches(QStringView name) const;

    const QString& Text() const { return text_; }
    bool IsValid() const { return errorPosition_ == 0; }

private:
    struct Token
    {
        enum class Kind { Literal, AnyOne, AnyRun, Set };
        explicit Token(Kind k) : kind(k) {}
        Kind kind;
        char16_t literal = 0; // upper case
        bool negate = false;
        std::vector<std::pair<char16_t, char16_t>> ranges; // upper case, inclusive
    };
    bool TokenFits(const Token& token, char16_t upper) const;

    QString text_;
    std::vector<Token> tokens_;
    int errorPosition_ = 0;
};

// The test of one name against one mask, as FileMask::Matches.
bool FileNameFitsMask(const QString& name, const QString& mask);

// The masks of a filter: the pieces between its ";", each taken exactly as
// written.
QStringList SplitFilter(const QString& filter);

// Several masks tested in their order; the first that fits ends the test.
class FileFilter
{
public:
    explicit FileFilter(const QString& filter);
    bool Matches(QStringView name) const;

private:
    std::vector<FileMask> masks_;
};

} // namespace kestrix
