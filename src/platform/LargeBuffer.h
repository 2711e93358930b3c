// Memory for buffers that may hold a whole page or more: a megabyte or more
// is taken in whole large pages of the processor (2 MB), aligned to them and
// offered to the kernel for them (transparent huge pages where the machine
// allows them on request), so that touching a large buffer costs a few page
// faults instead of one per 4 KB. It comes from the ordinary allocator, so
// memory released in the process is used again without being cleared anew.
// Smaller buffers are plain heap memory: small pages pay nothing for this.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>

namespace kestrix {

// The size from which memory is taken in large pages.
inline constexpr size_t largeBufferThreshold = size_t(1) << 20;
// The processor's large page on the machines this runs on (x86-64, arm64
// with 4 KB pages).
inline constexpr size_t largePageSize = size_t(2) << 20;

// Raw memory of at least `size` bytes; null when none is left. Released with
// ReleaseLargeMemory and the same size.
void* AllocateLargeMemory(size_t size);
void ReleaseLargeMemory(void* memory, size_t size);

// Has the kernel map in fresh memory on a thread of its own, ahead of the
// thread that is about to fill it. Fresh memory is cleared by the kernel
// the first time it is touched, which on a virtual machine whose host has
// taken the memory back can cost as much as the work done in it; on
// another processor that clearing no longer delays the work. The contents
// are never changed (the memory is only made present and writable), so a
// range may be filled while it is being written, and a range that was
// released meanwhile costs nothing but the time. The thread starts with
// the first range and ends with the object.
class PageFiller
{
public:
    PageFiller() = default;
    ~PageFiller();
    PageFiller(const PageFiller&) = delete;
    PageFiller& operator=(const PageFiller&) = delete;

    // Queues a range; ranges are filled in the order given. Never fails:
    // without a thread the memory is mapped in as it is touched.
    void Fill(void* begin, size_t length) noexcept;
    // Drops what is queued and waits until the thread is done with the range
    // it is on.
    void Stop();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<char*, size_t>> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

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
    // Fresh room of several large pages beyond the first is mapped in on
    // another thread (PageFiller) while the first is filled.
    void Reserve(size_t capacity);
    // Appends bytes, growing the capacity (at least doubling) when needed.
    void Append(const char* bytes, size_t count);

private:
    void Release();

    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    std::unique_ptr<PageFiller> filler_;
};

} // namespace kestrix
