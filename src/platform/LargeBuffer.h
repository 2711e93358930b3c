// Memory for buffers that may hold a whole page or more: a megabyte or more
// is mapped on its own, aligned to the processor's large pages and offered to
// the kernel for them (transparent huge pages where the machine allows them
// on request), so that touching a large buffer costs a few page faults
// instead of one per 4 KB. Smaller buffers come from the ordinary heap, so
// small pages pay nothing for this.
#pragma once

#include <cstddef>
#include <new>
#include <string_view>

namespace kestrix {

// The size from which LargeBuffer maps its memory on its own.
inline constexpr size_t largeBufferThreshold = size_t(1) << 20;

// Raw memory of at least `size` bytes; null when none is left. Released with
// ReleaseLargeMemory and the same size.
void* AllocateLargeMemory(size_t size);
void ReleaseLargeMemory(void* memory, size_t size);

// An allocator for containers that may grow large (lists of a page's
// nodes), with the memory above.
template <typename T> struct LargeAllocator
{
    using value_type = T;
    LargeAllocator() = default;
    template <typename U> LargeAllocator(const LargeAllocator<U>&) {}
    T* allocate(size_t n)
    {
        if (n > size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        if (void* memory = AllocateLargeMemory(n * sizeof(T)))
            return static_cast<T*>(memory);
        throw std::bad_alloc();
    }
    void deallocate(T* memory, size_t n) { ReleaseLargeMemory(memory, n * sizeof(T)); }
    template <typename U> bool operator==(const LargeAllocator<U>&) const { return true; }
};

// A byte buffer of a fixed capacity with a filled length, for page text read
// or built once. Not initialised: only the filled bytes are defined.
class LargeBuffer
{
public:
    LargeBuffer() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    explicit LargeBuffer(size_t capacity);
    ~LargeBuffer();
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;

    char* data() { return data_; }
    const char* data() const { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    std::string_view View() const { return {data_ ? data_ : "", size_}; }

    // Sets the filled length (at most the capacity).
    void SetSize(size_t size) { size_ = size; }
    // Makes room for at least `capacity` bytes, keeping the filled ones.
    void Reserve(size_t capacity);
    // Appends bytes, growing the capacity (at least doubling) when needed.
    void Append(const char* bytes, size_t count);

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

} // namespace kestrix
