// The machine's physical memory: its size and how much of it is in use.
#pragma once

#include <cstdint>

namespace kestrix {

struct MemoryStatus
{
    std::uint64_t totalPhysical = 0;     // bytes of physical memory
    std::uint64_t availablePhysical = 0; // bytes that programs can still get
    int memoryLoad = 0;                  // percentage in use, 0 to 100
};

// Asks the system (sysinfo, and the kernel's estimate of available memory
// where it gives one). A failed query gives zeros.
MemoryStatus QueryMemoryStatus();

// The share of `total` that is not `available`, as a whole percentage
// rounded to nearest and kept within 0 to 100; 0 when the total is unknown.
int MemoryLoadPercent(std::uint64_t total, std::uint64_t available);

} // namespace kestrix
