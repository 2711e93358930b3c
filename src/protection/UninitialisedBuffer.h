// Buffers that are written whole right after they are sized.
#pragma once

#include <memory>
#include <utility>
#include <vector>

namespace kestrix {

// An allocator whose elements are left uninitialised when a vector grows:
// for buffers that are written whole right after they are sized, so that no
// time goes into clearing them first.
template <typename T> struct UninitialisedAllocator : std::allocator<T>
{
    template <typename U> struct rebind
    {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U> UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <typename U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
template <typename T> using UninitialisedBuffer = std::vector<T, UninitialisedAllocator<T>>;

} // namespace kestrix
