// Text operations on the 8-bit page text: tag search without regard to case.
#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// How far ahead the wide text loops (the tag searches, the scrambling) ask
// for the bytes they will read: a page that has outgrown the processor's
// nearer caches streams from farther away, and asking early keeps the loops
// from waiting for it (a 10 MB page gains about a tenth; asking past the
// end of the text is harmless).
inline constexpr size_t textPrefetchDistance = 2048;

// ANSI upper-casing of a byte string: a-z become A-Z, and the Latin-1 letters
// 0xE0-0xFE except 0xF7 become 0xC0-0xDE, so positions are kept.
std::string UpperCaseAnsi(std::string_view text);

// Position of the first occurrence of `upperNeedle` (already upper-cased) in
// `text` at or after `from`, comparing the text ANSI-upper-cased; npos when
// there is none. Needs no upper-cased copy of the text.
size_t FindNoCase(std::string_view text, std::string_view upperNeedle, size_t from = 0);

// The first place at or after `from` where either of two upper-cased needles
// (of two bytes or more) stands, compared as FindNoCase compares, found in one
// pass; `isSecond` tells which of them it is. npos when neither occurs.
size_t FindEitherNoCase(std::string_view text, std::string_view first, std::string_view second,
                        size_t from = 0, bool* isSecond = nullptr);

struct TextPieces
{
    std::string before;
    std::string middle;
    std::string after;
};

// The pieces of the cuts below as views of the text, which must outlive
// them: SplitAtElementViews and ExtractElementViews cut as the functions of
// the same names without "Views"; UnwrapElementViews gives the text before
// the start tag, between the tags and after the end tag, whose joining is
// what UnwrapElement returns (the whole text and two empty views when the
// element is not complete).
struct TextViews
{
    std::string_view before;
    std::string_view middle;
    std::string_view after;
};
TextViews SplitAtElementViews(std::string_view text, std::string_view name, bool* found = nullptr);
TextViews ExtractElementViews(std::string_view text, std::string_view name, bool* found = nullptr);
TextViews UnwrapElementViews(std::string_view text, std::string_view name);

// Splits at element N: through the ">" closing the first start mark "<N";
// up to the first end mark "</N"; from that end mark to the end. `found` is
// false (and the pieces are the whole text, empty, empty) when either mark or
// the ">" is missing, or the end mark lies before the start tag's end.
TextPieces SplitAtElement(std::string_view text, std::string_view name, bool* found = nullptr);

// Cuts out element N: before its first start mark; from that mark through
// the ">" after the first end mark; the rest. `found` is false (and the pieces
// are the whole text, empty, empty) when the element is not complete.
TextPieces ExtractElement(std::string_view text, std::string_view name, bool* found = nullptr);

// Removes the start tag of element N and then, in what remains, its end tag,
// keeping what lies between. A text without a complete element is returned
// unchanged.
std::string UnwrapElement(std::string_view text, std::string_view name);

} // namespace kestrix
