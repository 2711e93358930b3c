#include "platform/MemoryStatus.h"

#include <cstdio>
#include <cstring>
#include <sys/sysinfo.h>

namespace kestrix {

namespace {

// "MemAvailable" of /proc/meminfo in bytes: free memory plus the caches the
// kernel can drop. False when the kernel does not report it.
bool ReadAvailableMemory(std::uint64_t& bytes)
{
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (!file)
        return false;
    char line[256];
    bool found = false;
    while (std::fgets(line, sizeof line, file)) {
        unsigned long long kilobytes = 0;
        if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1) {
            bytes = std::uint64_t(kilobytes) * 1024u;
            found = true;
            break;
        }
    }
    std::fclose(file);
    return found;
}

} // namespace

int MemoryLoadPercent(std::uint64_t total, std::uint64_t available)
{
    if (total == 0)
        return 0;
    if (available >= total)
        return 0;
    const std::uint64_t used = total - available;
    // used * 100 cannot overflow for any real memory size (below 2^57 bytes).
    const std::uint64_t percent = (used * 100u + total / 2u) / total;
    return percent > 100u ? 100 : int(percent);
}

MemoryStatus QueryMemoryStatus()
{
    MemoryStatus status;
    struct sysinfo info;
    std::memset(&info, 0, sizeof info);
    if (sysinfo(&info) != 0)
        return status;
    const std::uint64_t unit = info.mem_unit ? info.mem_unit : 1u;
    status.totalPhysical = std::uint64_t(info.totalram) * unit;
    std::uint64_t available = 0;
    if (!ReadAvailableMemory(available))
        available = (std::uint64_t(info.freeram) + std::uint64_t(info.bufferram)) * unit;
    status.availablePhysical = available < status.totalPhysical ? available : status.totalPhysical;
    status.memoryLoad = MemoryLoadPercent(status.totalPhysical, status.availablePhysical);
    return status;
}

} // namespace kestrix
