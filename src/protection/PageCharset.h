// Finding a page's character set and decoding page bytes to UTF-16, as a
// browser does, for the content scrambling.
#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// The character set a browser would use for the page: a byte-order mark;
// else the charset of a <meta charset> or <meta http-equiv="Content-Type">
// before the body; else "UTF-8" when the bytes are valid UTF-8; else
// "windows-1252". ISO-8859-1 and US-ASCII labels give "windows-1252".
// The result is a normalised label ("UTF-8", "UTF-16LE", "UTF-16BE",
// "windows-1252", or another label that iconv knows).
std::string DetectPageCharset(std::string_view page);

// True when the page names its character set: a byte-order mark, or a meta
// charset before the body that DetectPageCharset reads.
bool HasDeclaredCharset(std::string_view page);

// The charset named by a label as browsers read it, or "" when unknown.
std::string NormaliseCharsetLabel(std::string_view label);

// True when the bytes are well-formed UTF-8: no overlong forms, surrogates,
// code points past U+10FFFF or cut sequences.
bool IsValidUtf8(std::string_view bytes);

// The UTF-16 code unit of a byte in windows-1252 as DecodeToUtf16 gives it:
// the five bytes the charset leaves unassigned give the control character of
// the same value.
char16_t Windows1252Unit(unsigned char byte);

// Decodes bytes with a charset from DetectPageCharset into UTF-16 code units.
// Bytes the charset cannot decode become U+FFFD (UTF-8) or, for
// windows-1252's unassigned bytes, the control character of the same value.
// An unknown charset decodes as windows-1252.
std::u16string DecodeToUtf16(std::string_view bytes, const std::string& charset);

} // namespace kestrix
