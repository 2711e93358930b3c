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
size_t MappedSize(size_t size)
{
    return (size + largePage - 1) & ~(largePage - 1);
}

} // namespace

void* AllocateLargeMemory(size_t size)
{
    if (size < largeBufferThreshold)
        return std::malloc(size == 0 ? 1 : size);
    const size_t length = MappedSize(size);
    if (length < size)
        return nullptr;
    // Mapped one large page longer, then cut to an aligned start: the kernel
    // only backs aligned ranges with large pages.
    void* mapped = ::mmap(nullptr, length + largePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + largePage - 1) & ~uintptr_t(largePage - 1);
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    if (const size_t after = largePage - (aligned - start); after > 0)
        ::munmap(reinterpret_cast<void*>(aligned + length), after);
    // A request, not a condition: where the kernel has no large pages to
    // give (or none are allowed) the memory is backed by small ones.
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void ReleaseLargeMemory(void* memory, size_t size)
{
    if (!memory)
        return;
    if (size < largeBufferThreshold)
        std::free(memory);
    else
        ::munmap(memory, MappedSize(size));
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
    // A mapped buffer already owns whole large pages: those are used first.
    if (capacity_ >= largeBufferThreshold && capacity <= MappedSize(capacity_)) {
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
    if (count > capacity_ - size_) {
        if (count > SIZE_MAX / 2 - size_)
            throw std::bad_alloc();
        Reserve(std::max(size_ + count, 2 * capacity_));
    }
    std::memcpy(data_ + size_, bytes, count);
    size_ += count;
}

} // namespace kestrix
