// Buffers that are written whole right after they are sized.
#pragma once

#include "platform/LargeBuffer.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace kestrix {

// An allocator whose elements are left uninitialised when a vector grows:
// for buffers that are written whole right after they are sized, so that no
// time goes into clearing them first. A megabyte or more is taken in large
// pages (platform/LargeBuffer.h), so touching it costs a few page faults.
template <typename T> struct UninitialisedAllocator
{
    using value_type = T;
    template <typename U> struct rebind
    {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U> UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    T* allocate(size_t n) { return LargeAllocator<T>().allocate(n); }
    void deallocate(T* memory, size_t n) { LargeAllocator<T>().deallocate(memory, n); }
    template <typename U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <typename U> bool operator==(const UninitialisedAllocator<U>&) const { return true; }
};
template <typename T> using UninitialisedBuffer = std::vector<T, UninitialisedAllocator<T>>;

// Sizes a buffer that is about to be written whole to `size` elements. When
// its room must grow, it grows to four times its room without copying what
// it held: a buffer used again for texts of many sizes is then made anew
// only a few times (memory never written costs nothing), so the largest
// texts do not each take fresh memory.
template <typename T> void ResizeForWriting(UninitialisedBuffer<T>& buffer, size_t size)
{
    if (size > buffer.capacity()) {
        buffer.clear();
        buffer.reserve(std::max(size, 4 * buffer.capacity()));
    }
    buffer.resize(size);
}

} // namespace kestrix
