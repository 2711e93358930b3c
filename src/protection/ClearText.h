// Finding a secured page's clear text elsewhere: the visible text of page
// bodies, normalised so that the same words compare equal whether they
// stand in a page, a feed, a search index or a Markdown source, and an
// index that finds runs of that text in any other text.
#pragma once

#include "protection/UninitialisedBuffer.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// Room for a normalised text, used again from text to text.
using ClearTextBuffer = UninitialisedBuffer<char32_t>;

// The characters of a text as compared: HTML entities and JSON string
// escapes decoded; tags, comments, scripts and style sheets taken out (each
// leaves a blank); runs of white space made one blank; letters case-folded.
// One element per character (code point).
std::u32string NormaliseClearText(std::u16string_view text);
// The same into a buffer whose room is used again.
void NormaliseClearText(std::u16string_view text, ClearTextBuffer& out);

// The normalised visible text of a page's body: the text between the body
// start tag and the body end mark (all of it when the page has no body
// tags), read in the page's character set.
std::u32string VisibleBodyText(std::string_view page);
// The same into a buffer whose room is used again.
void VisibleBodyText(std::string_view page, ClearTextBuffer& out);

// The normalised text of a file of any kind, read in the charset its bytes
// show (a byte-order mark, a meta charset, UTF-8, else windows-1252).
std::u32string NormalisedFileText(std::string_view bytes);
void NormalisedFileText(std::string_view bytes, ClearTextBuffer& out);

// The clear texts of many pages, indexed so that a text can be searched for
// every run of at least `minChars` characters of any of them at once.
class ClearTextIndex
{
public:
    explicit ClearTextIndex(size_t minChars);

    // Adds a page's normalised text under an id of the caller's. Not to be
    // called once Finish has run.
    void AddPage(int id, std::u32string text);
    void Finish();

    // The ids of the pages that have a run of at least minChars characters
    // in `text`, each once, in the order their first run is met.
    std::vector<int> FindLeaks(std::u32string_view text) const;

    size_t MinChars() const { return minChars_; }

private:
    struct Entry
    {
        uint64_t hash;
        uint32_t page; // index into pages_
        uint32_t at;   // where the window starts in that page's text
        bool operator<(const Entry& other) const { return hash < other.hash; }
    };
    struct Page
    {
        int id;
        std::u32string text;
    };

    size_t minChars_;
    size_t window_; // the length of an indexed window
    size_t stride_; // the distance between indexed windows
    uint64_t topPower_ = 1;
    std::vector<Page> pages_;
    std::vector<Entry> entries_;
    std::vector<uint64_t> filter_; // one bit per hash bucket
};

} // namespace kestrix
