// Finding a secured page's clear text elsewhere: the visible text of page
// bodies, normalised so that the same words compare equal whether they
// stand in a page, a feed, a search index or a Markdown source, and an
// index that finds runs of that text in any other text.
#pragma once

#include "protection/UninitialisedBuffer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// Room for a normalised text, used again from text to text.
using ClearTextBuffer = UninitialisedBuffer<char32_t>;

// The characters of a text as compared: HTML entities and JSON string
// escapes decoded; tags, comments, scripts and style sheets taken out (each
// leaves a blank); runs of white space made one blank; letters case-folded.
// One element per character (code point). Escapes are decoded first, so an
// escaped tag (a feed's "&lt;p&gt;") is taken out like a tag.
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
//
// Windows of minChars / 2 characters are indexed every minChars + 1 -
// minChars / 2 characters, so that every run of minChars characters of a
// page holds a whole indexed window; a search rolls a hash over the text,
// and every window found is checked against the page's text and extended
// both ways to the whole run. Page texts are kept in UTF-8, the windows in
// groups by the top bits of their hash.
class ClearTextIndex
{
    struct Entry;
    struct StoredPage;

public:
    explicit ClearTextIndex(size_t minChars);
    ~ClearTextIndex();
    ClearTextIndex(ClearTextIndex&&) noexcept;
    ClearTextIndex& operator=(ClearTextIndex&&) noexcept;

    // Pages added by one thread. Several parts may be filled at the same
    // time, each by its own thread, and then handed to Finish together.
    class Part
    {
    public:
        ~Part();
        Part(Part&&) noexcept;
        Part& operator=(Part&&) noexcept;

        // Adds a page's normalised text under an id of the caller's (at
        // least 0, each id once). The text is copied.
        void AddPage(int id, std::u32string_view text);

    private:
        friend class ClearTextIndex;
        explicit Part(size_t minChars);
        unsigned char* Room(size_t bytes);
        Entry* NextEntry();

        size_t minChars_ = 1, window_ = 1, stride_ = 1;
        std::vector<StoredPage> pages_;
        std::vector<UninitialisedBuffer<unsigned char>> blocks_; // the texts
        unsigned char* free_ = nullptr;
        size_t freeBytes_ = 0;
        std::vector<UninitialisedBuffer<Entry>> entryBlocks_; // the windows
        size_t entries_ = 0;
        std::vector<uint32_t> groupSizes_; // windows per group
    };

    // An empty part for this index's length of runs.
    Part NewPart() const;
    // Takes the parts' pages in, one thread per part; no part or page may
    // be added afterwards.
    void Finish(std::vector<Part>& parts);

    // One thread's way: pages added straight to the index, then Finish.
    void AddPage(int id, std::u32string_view text);
    void Finish();

    // The ids of the pages that have a run of at least minChars characters
    // in `text`, each once, in the order their first run is met (pages met
    // at the same place in the order of their ids).
    std::vector<int> FindLeaks(std::u32string_view text) const;

    size_t MinChars() const { return minChars_; }

private:
    size_t RunAround(const StoredPage& page, size_t at, std::u32string_view text, size_t i) const;

    size_t minChars_;
    size_t window_; // the length of an indexed window
    size_t stride_; // the distance between indexed windows
    uint64_t topPower_ = 1;
    std::unique_ptr<Part> own_; // pages added straight to the index
    std::vector<StoredPage> pages_;
    std::vector<uint32_t> pageOfId_; // index into pages_ by id
    std::vector<UninitialisedBuffer<unsigned char>> blocks_;
    UninitialisedBuffer<Entry> entries_;                     // ordered by hash, page and place
    std::vector<uint32_t> groupStarts_;                      // where each group of entries starts
    std::vector<uint64_t, LargeAllocator<uint64_t>> filter_; // one bit per hash bucket
};

} // namespace kestrix
