#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace quillix {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Asks for transparent huge pages for the whole 2 MiB pages inside [data, data + size), before
// they are first touched: faulting in fresh small pages costs about as much as one pass of real
// work over a large buffer. Only advice; nothing changes where the kernel declines.
inline void AdviseHugePages(void* data, std::size_t size)
{
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t last = (begin + size) / kHugePage * kHugePage;
    if (data == nullptr || last <= first) return;
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace quillix
