// Content scrambling: XOR-scrambles text into JavaScript loader layers.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// The key of every content layer.
inline constexpr std::string_view contentKey = "PlumTreeQuietHarbors";
// The key of the settings attribute.
inline constexpr std::string_view settingsKey = "meadows-lanterns";

// The scrambled form of a byte string as the body of a JavaScript
// double-quoted string: byte p is XORed with (key[p % len] & 31); results
// below 32, above 127 and " < > \ are written as \xHH (upper-case hex).
std::string ScrambleText(std::string_view text, std::string_view key);

// The same for a text of UTF-16 code units: units below 256 are written as
// ScrambleText writes bytes; units from 256 up as \uHHHH.
std::string ScrambleUnits(const std::u16string& units, std::string_view key);

// Every byte as % and two upper-case hex digits.
std::string PercentEscape(std::string_view text);

// The loader source that rebuilds a scrambled string with `key`.
std::string LoaderSource(std::string_view key);

// One layer: a complete script element that rebuilds and writes `text`.
std::string WrapInLoader(std::string_view text, std::string_view key);

// `level` layers with the content key, each around the one before; level 0
// returns the text unchanged. The text is taken as bytes.
std::string ScrambleContent(std::string_view text, int level);

// The same for content taken from a page: the innermost layer scrambles the
// content's characters, decoded with the page's character set (see
// PageCharset.h), so the visitor's browser writes back the same characters.
// `page` is the whole page (used to find the declared charset).
std::string ScramblePageContent(std::string_view content, std::string_view page, int level);

// What ScramblePageContent returns, written straight into the place the
// caller reserved for it (measured first), or handed on in pieces. No layer
// is built as a string of its own: the layers run as a pipeline over small
// pieces, so memory stays at the caller's output buffer. Content that
// declares UTF-8 but is not is read with replacement characters: found
// while it is measured, or by a check of its own before the first byte of
// it is written, so no output ever holds part of the other reading.
// `content` and `page` must stay alive and unchanged while this is used.
class PageContentLayers
{
public:
    PageContentLayers(std::string_view content, std::string_view page, int level);
    ~PageContentLayers();
    PageContentLayers(const PageContentLayers&) = delete;
    PageContentLayers& operator=(const PageContentLayers&) = delete;

    // The number of bytes Write produces, measured on the first call (a
    // writer that streams its output never needs it).
    size_t Size() const;
    // Writes Size() bytes at `out` and returns the end of them.
    char* Write(char* out) const;
    // Hands the same Size() bytes to `write` (called as write(data, size)),
    // in pieces that pass through a buffer in the processor's cache: into a
    // string whose capacity is reserved, or straight to a file, the bytes
    // are written once, with no filling beforehand.
    template <typename Write> void WriteInPieces(Write&& write) const
    {
        PieceWriter writer(write);
        WriteTo(writer);
    }
    void AppendTo(std::string& out) const
    {
        WriteInPieces([&](const char* data, size_t size) { out.append(data, size); });
    }

    // Where WriteInPieces hands its pieces.
    class Pieces
    {
    public:
        virtual void Put(const char* data, size_t size) = 0;

    protected:
        ~Pieces() = default;
    };

    // The innermost text, how its characters are read, and the loader;
    // shared with the other scrambling functions.
    struct Source;

private:
    template <typename Write> class PieceWriter final : public Pieces
    {
    public:
        explicit PieceWriter(Write& write) : write_(write) {}
        void Put(const char* data, size_t size) override { write_(data, size); }

    private:
        Write& write_;
    };
    void WriteTo(Pieces& out) const;

    // Reads content that declares UTF-8 but is not as a browser does, with
    // replacement characters, once that is known; it is known once the
    // content is measured or checked.
    void Settle() const;
    void ReadAsDecoded() const;

    mutable std::unique_ptr<Source> source_;
    int level_;
    mutable std::optional<size_t> size_;
    mutable bool settled_ = false;
};

} // namespace kestrix
