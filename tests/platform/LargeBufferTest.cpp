// Large buffers whose fresh memory is mapped in on another thread: whatever
// the filler does, the bytes written are the bytes read.
#include "platform/LargeBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace kestrix;

namespace {

// A byte that differs from position to position, so a page cleared or
// moved behind the writer's back shows.
char PatternAt(size_t i)
{
    return char('a' + (i * 7 + i / 4096) % 26);
}

bool HoldsPattern(const char* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (data[i] != PatternAt(i))
            return false;
    return true;
}

// Buffers filled while the filler maps them in: reserved whole, grown piece
// by piece, moved and reserved again.
TEST(LargeBuffer, BytesWrittenWhileTheMemoryIsMappedInStay)
{
    struct Case
    {
        const char* what;
        size_t reserve; // first capacity
        size_t size;    // bytes written
        size_t piece;   // appended at a time
    } cases[] = {
        {"reserved whole, written at once", size_t(9) << 20, size_t(9) << 20, size_t(9) << 20},
        {"reserved whole, written in small pieces", size_t(9) << 20, size_t(9) << 20, 3000},
        {"grown from nothing past several large pages", 0, (size_t(13) << 20) + 5, 65536},
        {"below the large-page size", 4096, 700000, 1000},
        {"one byte past a large page", (size_t(2) << 20) + 1, (size_t(2) << 20) + 1, 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LargeBuffer buffer(c.reserve);
        std::string piece;
        for (size_t at = 0; at < c.size; at += piece.size()) {
            piece.clear();
            for (size_t i = at; i < std::min(c.size, at + c.piece); ++i)
                piece += PatternAt(i);
            buffer.Append(piece.data(), piece.size());
        }
        ASSERT_EQ(buffer.size(), c.size);
        EXPECT_TRUE(HoldsPattern(buffer.data(), buffer.size()));
        // Moved while its filler may still run, then grown again.
        LargeBuffer moved = std::move(buffer);
        moved.Reserve(moved.capacity() + (size_t(5) << 20));
        EXPECT_TRUE(HoldsPattern(moved.data(), c.size));
        buffer = std::move(moved);
        EXPECT_TRUE(HoldsPattern(buffer.data(), c.size));
    }
}

// The filler on its own: any range, aligned or not, empty or not, filled
// twice, stopped midway and started again, leaves the contents alone.
TEST(LargeBuffer, FillerNeverChangesContents)
{
    const size_t size = size_t(8) << 20;
    void* memory = AllocateLargeMemory(size);
    ASSERT_NE(memory, nullptr);
    char* data = static_cast<char*>(memory);
    for (size_t i = 0; i < size; i += 4096)
        data[i] = PatternAt(i);
    struct Case
    {
        const char* what;
        size_t offset, length;
        bool stop; // stopped at once
    } cases[] = {
        {"the whole memory", 0, size, false},
        {"unaligned at both ends", 123, size - 5000, false},
        {"less than a page", 10, 100, false},
        {"nothing", 4096, 0, false},
        {"stopped while filling", 0, size, true},
        {"again after a stop", 4096 * 3, size / 2, false},
    };
    PageFiller filler;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        filler.Fill(data + c.offset, c.length);
        if (c.stop)
            filler.Stop();
    }
    filler.Stop();
    for (size_t i = 0; i < size; i += 4096)
        ASSERT_EQ(data[i], PatternAt(i)) << "at " << i;
    ReleaseLargeMemory(memory, size);
}

} // namespace
