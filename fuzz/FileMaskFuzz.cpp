// Reads arbitrary bytes as a file mask and a name (split at the first line
// break): testing may refuse the mask with a message but never crash or run
// away, a mask without wildcards fits exactly its own text letter case
// aside, "*" before and after a mask only widens it, and a filter made of the
// mask behaves as the mask.
#include "platform/Errors.h"
#include "processing/FileMask.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// The result of a test, or nullopt when the mask is refused.
std::optional<bool> Fits(const QString& mask, const QString& name)
{
    try {
        return kestrix::FileMask(mask).Matches(name);
    } catch (const kestrix::Failure&) {
        return std::nullopt;
    }
}

bool HasWildcard(const QString& mask)
{
    for (QChar c : mask)
        if (c == u'*' || c == u'?' || c == u'[')
            return true;
    return false;
}

// Equal code unit by code unit once each is put in upper case.
bool SameLetterCaseAside(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (QChar::toUpper(a[i].unicode()) != QChar::toUpper(b[i].unicode()))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\n');
    const QString mask = QString::fromUtf8(input.substr(0, cut));
    const QString name =
        cut == std::string_view::npos ? mask : QString::fromUtf8(input.substr(cut + 1));

    const std::optional<bool> fits = Fits(mask, name);
    Check(fits.has_value() == kestrix::FileMask(mask).IsValid(),
          "a mask is refused exactly when it is not valid");
    if (!fits)
        return 0;

    if (!HasWildcard(mask)) {
        Check(*fits == SameLetterCaseAside(mask, name),
              "a mask without wildcards fits its own text only");
        Check(*Fits(mask, mask), "a plain mask fits itself");
    }
    if (*fits) {
        // Stars around a mask cannot make a fitting name stop fitting (the
        // limit on stars aside).
        const std::optional<bool> wider = Fits(u'*' + mask + u'*', name);
        Check(!wider || *wider, "stars around a mask only widen it");
    }
    if (!mask.contains(u';')) {
        bool filterFits = false;
        try {
            filterFits = kestrix::FileFilter(mask).Matches(name);
        } catch (const kestrix::Failure&) {
            Check(false, "a filter of one valid mask is valid");
        }
        Check(filterFits == *fits, "a filter of one mask behaves as the mask");
    } else {
        try {
            kestrix::FileFilter(mask).Matches(name);
        } catch (const kestrix::Failure&) {
        }
    }
    return 0;
}
