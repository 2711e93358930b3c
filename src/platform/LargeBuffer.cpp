#include "platform/LargeBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <system_error>
#include <utility>

namespace kestrix {

namespace {

constexpr size_t largePage = largePageSize;

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

PageFiller::~PageFiller()
{
    Stop();
}

void PageFiller::Fill(void* begin, size_t length) noexcept
{
    // Whole small pages inside the range: the kernel takes page-aligned ones.
    constexpr uintptr_t page = 4096;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(begin) + length) & ~(page - 1);
    if (end <= start)
        return;
    // Without memory or a thread to be had, the memory is mapped in as it
    // is touched, as it would be without this.
    try {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
        queue_.emplace_back(reinterpret_cast<char*>(start), size_t(end - start));
    } catch (const std::exception&) {
        return;
    }
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (const std::exception&) {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.clear();
        }
        return;
    }
    wake_.notify_one();
}

void PageFiller::Stop()
{
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    thread_.join();
}

void PageFiller::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            return;
        auto [at, length] = queue_.front();
        queue_.pop_front();
        // A large page at a time, so that Stop waits for one at most.
        while (length > 0) {
            const size_t step = std::min(length, largePage);
            lock.unlock();
            // Kernels without the request (before 5.14) refuse it: the
            // memory is then mapped in as it is touched, as it would be.
            ::madvise(at, step, MADV_POPULATE_WRITE);
            lock.lock();
            if (stopping_)
                return;
            at += step;
            length -= step;
        }
    }
}

LargeBuffer::LargeBuffer(size_t capacity)
{
    Reserve(capacity);
}

LargeBuffer::~LargeBuffer()
{
    Release();
}

void LargeBuffer::Release()
{
    // The filler is done with the memory before it is given back.
    if (filler_)
        filler_->Stop();
    ReleaseLargeMemory(data_, capacity_);
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)), filler_(std::move(other.filler_))
{
}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept
{
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        filler_ = std::move(other.filler_);
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
    // The filler is done with the old memory before it is given back. The
    // new memory beyond what the copy and the first large page take is
    // mapped in on another thread while this one fills it from the front:
    // from the back, a large page at a time, so that the two meet halfway
    // instead of one following the other.
    if (filler_)
        filler_->Stop();
    const size_t length = LargePagesSize(capacity);
    const size_t first = std::max(largePage, LargePagesSize(size_));
    if (capacity >= largeBufferThreshold && length > first) {
        if (!filler_)
            filler_ = std::make_unique<PageFiller>();
        for (size_t at = length; at > first; at -= largePage)
            filler_->Fill(bigger + at - largePage, largePage);
    }
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
