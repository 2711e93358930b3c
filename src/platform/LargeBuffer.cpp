#include "platform/LargeBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace kestrix {

namespace {

// The processor's large page on the machines this runs on (x86-64, arm64
// with 4 KB pages).
constexpr size_t largePage = size_t(2) << 20;

// What a mapping of `size` bytes takes: whole large pages, so that its last
// part is a large page too (the rest of it is never touched when unused).
size_t LargePagesSize(size_t size)
{
    return (size + largePage - 1) & ~(largePage - 1);
}

} // namespace

void* AllocateLargeMemory(size_t size)
{
    if (size < largeBufferThreshold)
        return std::malloc(size == 0 ? 1 : size);
    const size_t length = LargePagesSize(size);
    if (length < size)
        return nullptr;
    // From the ordinary allocator, aligned to a large page: the first time
    // it maps fresh memory, and memory released in this process is used
    // again without the kernel clearing it anew (a program that parses one
    // page after another keeps its memory warm).
    void* memory = nullptr;
    if (::posix_memalign(&memory, largePage, length) != 0)
        return nullptr;
    // A request, not a condition: where the kernel has no large pages to
    // give (or none are allowed) the memory is backed by small ones.
    ::madvise(memory, length, MADV_HUGEPAGE);
    return memory;
}

void ReleaseLargeMemory(void* memory, size_t)
{
    std::free(memory);
}

LargeBuffer::LargeBuffer(size_t capacity)
{
    Reserve(capacity);
}

LargeBuffer::~LargeBuffer()
{
    ReleaseLargeMemory(data_, capacity_);
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0))
{
}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept
{
    if (this != &other) {
        ReleaseLargeMemory(data_, capacity_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

void LargeBuffer::Reserve(size_t capacity)
{
    if (capacity <= capacity_)
        return;
    // A large buffer already owns whole large pages: those are used first.
    if (capacity_ >= largeBufferThreshold && capacity <= LargePagesSize(capacity_)) {
        capacity_ = capacity;
        return;
    }
    auto* bigger = static_cast<char*>(AllocateLargeMemory(capacity));
    if (!bigger)
        throw std::bad_alloc();
    if (size_ > 0)
        std::memcpy(bigger, data_, size_);
    ReleaseLargeMemory(data_, capacity_);
    data_ = bigger;
    capacity_ = capacity;
}

void LargeBuffer::Append(const char* bytes, size_t count)
{
    // Nothing to add: an empty piece may come with no storage behind it,
    // which memcpy must not be given.
    if (count == 0)
        return;
    if (count > capacity_ - size_) {
        if (count > SIZE_MAX / 2 - size_)
            throw std::bad_alloc();
        Reserve(std::max(size_ + count, 2 * capacity_));
    }
    std::memcpy(data_ + size_, bytes, count);
    size_ += count;
}

} // namespace kestrix
