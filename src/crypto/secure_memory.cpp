#include "crypto/secure_memory.h"

#include "common/memory.h"

#include <sodium.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

namespace quillix::crypto {
namespace {

// Every block's bytes follow this header, so that SecureFree knows how the block was made. It
// keeps the caller's bytes 64-byte aligned: a locked block ends at its guard page, and its size
// is a multiple of 64.
struct alignas(64) BlockHeader {
    std::uint64_t kind;
    std::size_t total;   // header included
    void* mapping;       // a mapped block's whole mapping, guard pages included
    std::size_t mapped;  // and its length
};
constexpr std::uint64_t kSodium = 0x514C58'4C4F434BULL;    // "QLXLOCK"
constexpr std::uint64_t kMapped = 0x514C58'4D415031ULL;    // "QLXMAP1"
constexpr std::uint64_t kOrdinary = 0x514C58'4F524431ULL;  // "QLXORD1"
constexpr std::size_t kAlignment = alignof(BlockHeader);

// From this size on, a block is mapped here rather than by sodium_malloc, with the same guard
// pages, lock, exclusion from core dumps and wipe, and with transparent huge pages asked for
// before the lock faults it in: fresh small pages cost several times the decryption of a large
// picture, and sodium_malloc locks its block before it could be advised.
constexpr std::size_t kMappedFrom = std::size_t{256} << 10;

std::atomic<bool> simulateLockFailure{false};
std::atomic<bool> fallbackReported{false};

std::size_t PageSize()
{
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t RoundUp(std::size_t size, std::size_t unit)
{
    return (size + unit - 1) / unit * unit;
}

void InitialiseOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // A desktop session often grants a few MiB only while the hard limit allows more: a few
        // decoded pictures fit then.
        rlimit limit{};
        if (::getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            ::setrlimit(RLIMIT_MEMLOCK, &limit);
        }
        if (sodium_init() < 0) std::abort();  // no usable random source: nothing here could work
    });
}

void ReportFallback()
{
    if (fallbackReported.exchange(true)) return;
    std::fprintf(stderr,
                 "%s: the locked-memory limit is reached (ulimit -l); decrypted pictures and keys now use "
                 "ordinary memory, which is still wiped but may be swapped\n",
                 program_invocation_short_name);
}

// Whether a block of `total` bytes is larger than all the memory this process may lock: it then
// goes to ordinary memory at once, sparing the passes over it. Without the limit (root, as a
// rule) nothing is too large.
bool BeyondLockLimit(std::size_t total)
{
    static const rlim_t limit = [] {
        rlimit current{};
        if (::geteuid() == 0 || ::getrlimit(RLIMIT_MEMLOCK, &current) != 0) return RLIM_INFINITY;
        return current.rlim_cur;
    }();
    return limit != RLIM_INFINITY && total > limit;
}

bool Lock(void* data, std::size_t size)
{
    if (simulateLockFailure.load(std::memory_order_relaxed)) return false;
    const std::size_t page = PageSize();
    const auto begin = reinterpret_cast<std::uintptr_t>(data) / page * page;
    const auto end = RoundUp(reinterpret_cast<std::uintptr_t>(data) + size, page);
    return ::mlock(reinterpret_cast<void*>(begin), end - begin) == 0;
}

BlockHeader* Stamp(void* at, std::uint64_t kind, std::size_t total)
{
    auto* header = static_cast<BlockHeader*>(at);
    header->kind = kind;
    header->total = total;
    header->mapping = nullptr;
    header->mapped = 0;
    return header;
}

// sodium_malloc locks its block but ignores a failed lock. Locking again tells: pages locked
// already count once, and a block the limit left unlocked fails again.
void* SodiumBlock(std::size_t total)
{
    void* block = sodium_malloc(total);
    if (!block) return nullptr;
    if (!Lock(block, total)) {
        sodium_free(block);
        return nullptr;
    }
    return Stamp(block, kSodium, total) + 1;
}

// The mappings of the mapped blocks freed last, wiped, kept locked for the next blocks that fit
// them: a picture shown after another needs buffers of about the same sizes, and a fresh mapping
// costs a page fault per page where a used one costs none. Each worker of the pool frees one as
// the next takes one, so one spare per worker or so is kept.
struct Spare {
    struct Mapping {
        std::uint8_t* at = nullptr;
        std::size_t length = 0;
    };
    std::mutex mutex;
    std::vector<Mapping> kept;  // oldest first

    // A spare mapping that a block of `total` bytes fits without wasting more than it uses.
    Mapping TakeFor(std::size_t total)
    {
        const std::lock_guard lock(mutex);
        for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
            const std::size_t inner = it->length - 2 * PageSize();
            if (inner < total || inner - total > std::max(total, kHugePage)) continue;
            const Mapping found = *it;
            kept.erase(std::next(it).base());
            return found;
        }
        return {};
    }
    // Keeps a freed mapping, letting the oldest spares go beyond the count or the bytes kept.
    void Keep(std::uint8_t* freed, std::size_t length)
    {
        std::vector<Mapping> gone;
        if (length > kMostBytes) {
            gone.push_back({freed, length});
        } else {
            const std::lock_guard lock(mutex);
            kept.push_back({freed, length});
            std::size_t bytes = 0;
            for (const Mapping& m : kept)
                bytes += m.length;
            while (kept.size() > kMostMappings || bytes > kMostBytes) {
                bytes -= kept.front().length;
                gone.push_back(kept.front());
                kept.erase(kept.begin());
            }
        }
        for (const Mapping& m : gone)
            ::munmap(m.at, m.length);
    }
    // Gives the spares' locked memory back, so that a new block may lock it.
    bool Release()
    {
        std::vector<Mapping> gone;
        {
            const std::lock_guard lock(mutex);
            gone.swap(kept);
        }
        for (const Mapping& m : gone)
            ::munmap(m.at, m.length);
        return !gone.empty();
    }

    static constexpr std::size_t kMostMappings = 4;
    static constexpr std::size_t kMostBytes = std::size_t{256} << 20;
};

Spare& SpareMapping()
{
    static Spare spare;
    return spare;
}

// The block of `total` bytes at the end of `mapping`, locked, with its header.
void* PlaceBlock(std::uint8_t* mapping, std::size_t mapped, std::size_t total)
{
    std::uint8_t* const block = mapping + mapped - PageSize() - total;
    if (!Lock(block, total)) {
        ::munmap(mapping, mapped);
        return nullptr;
    }
    BlockHeader* header = Stamp(block, kMapped, total);
    header->mapping = mapping;
    header->mapped = mapped;
    return header + 1;
}

// A guard page, the block (ending where the second guard page starts), a guard page. A block of
// a huge page or more ends on a huge-page boundary, so that every huge page it spans lies inside
// the mapping; only the pages it occupies are locked, and so faulted in.
void* MappedBlock(std::size_t total)
{
    if (const Spare::Mapping spare = SpareMapping().TakeFor(total); spare.at)
        return PlaceBlock(spare.at, spare.length, total);
    const std::size_t page = PageSize();
    const std::size_t unit = total >= kHugePage ? kHugePage : page;
    const std::size_t inner = RoundUp(total, unit);
    const std::size_t slack = unit > page ? unit : 0;
    const std::size_t length = inner + 2 * page + slack;
    void* made = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (made == MAP_FAILED) return nullptr;
    auto* const first = static_cast<std::uint8_t*>(made);
    auto* const inside = reinterpret_cast<std::uint8_t*>(RoundUp(reinterpret_cast<std::uintptr_t>(first + page), unit));
    std::uint8_t* const mapping = inside - page;
    const std::size_t mapped = inner + 2 * page;
    // What the alignment left over at either end goes back at once.
    if (mapping > first) ::munmap(first, static_cast<std::size_t>(mapping - first));
    if (first + length > mapping + mapped)
        ::munmap(mapping + mapped, static_cast<std::size_t>(first + length - (mapping + mapped)));

    ::madvise(inside, inner, MADV_DONTDUMP);
    AdviseHugePages(inside, inner);
    if (::mprotect(mapping, page, PROT_NONE) != 0 || ::mprotect(inside + inner, page, PROT_NONE) != 0) {
        ::munmap(mapping, mapped);
        return nullptr;
    }
    return PlaceBlock(mapping, mapped, total);
}

void* OrdinaryBlock(std::size_t total)
{
    const bool large = total >= kMappedFrom;
    const std::size_t alignment = large ? kHugePage : kAlignment;
    const std::size_t rounded = RoundUp(total, alignment);
    void* block = std::aligned_alloc(alignment, rounded);
    if (!block) return nullptr;
    if (large) AdviseHugePages(block, rounded);
    return Stamp(block, kOrdinary, rounded) + 1;
}

BlockHeader* HeaderOf(const void* data)
{
    return const_cast<BlockHeader*>(static_cast<const BlockHeader*>(data) - 1);
}

}  // namespace

void ProtectProcessMemory()
{
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    InitialiseOnce();
}

void* SecureAllocate(std::size_t size)
{
    if (size > std::numeric_limits<std::size_t>::max() / 2) return nullptr;
    InitialiseOnce();
    const std::size_t total = sizeof(BlockHeader) + RoundUp(size, kAlignment);
    if (!BeyondLockLimit(total)) {
        const auto locked = [total] { return total < kMappedFrom ? SodiumBlock(total) : MappedBlock(total); };
        if (void* data = locked()) return data;
        // The spare may hold the locked memory this block needs.
        if (SpareMapping().Release()) {
            if (void* data = locked()) return data;
        }
    }
    ReportFallback();
    return OrdinaryBlock(total);
}

void SecureFree(void* data) noexcept
{
    if (!data) return;
    BlockHeader* header = HeaderOf(data);
    switch (header->kind) {
    case kSodium:
        sodium_free(header);  // wipes it all, then unlocks and unmaps
        return;
    case kMapped: {
        auto* const mapping = static_cast<std::uint8_t*>(header->mapping);
        const std::size_t mapped = header->mapped;
        sodium_memzero(header, header->total);
        SpareMapping().Keep(mapping, mapped);
        return;
    }
    default: sodium_memzero(header, header->total); std::free(header);
    }
}

bool IsLockedMemory(const void* data)
{
    return data && HeaderOf(data)->kind != kOrdinary;
}

bool LockFallbackReported()
{
    return fallbackReported.load();
}

void SimulateLockFailure(bool fail)
{
    simulateLockFailure.store(fail);
}

}  // namespace quillix::crypto
