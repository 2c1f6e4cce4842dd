#include "crypto/secure_memory.h"

#include <sodium.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace quillix::crypto {
namespace {

// Every block starts with this header, so that SecureFree knows how the block was made. It keeps
// the caller's bytes 64-byte aligned: sodium_malloc puts a block's end at its guard page, so a
// multiple of 64 ends there and starts aligned.
struct alignas(64) BlockHeader {
    std::uint64_t kind;
    std::size_t total;  // header included
};
constexpr std::uint64_t kLocked = 0x514C58'4C4F434BULL;    // "QLXLOCK"
constexpr std::uint64_t kOrdinary = 0x514C58'4F524431ULL;  // "QLXORD1"
constexpr std::size_t kAlignment = alignof(BlockHeader);

std::atomic<bool> simulateLockFailure{false};
std::atomic<bool> fallbackReported{false};

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
// goes to ordinary memory at once, sparing sodium_malloc's passes over it. Without the limit
// (root, as a rule) nothing is too large.
bool BeyondLockLimit(std::size_t total)
{
    static const rlim_t limit = [] {
        rlimit current{};
        if (::geteuid() == 0 || ::getrlimit(RLIMIT_MEMLOCK, &current) != 0) return RLIM_INFINITY;
        return current.rlim_cur;
    }();
    return limit != RLIM_INFINITY && total > limit;
}

// sodium_malloc locks its block but ignores a failed lock. Locking again tells: pages locked
// already count once, and a block the limit left unlocked fails again.
bool LockHolds(void* block, std::size_t size)
{
    if (simulateLockFailure.load(std::memory_order_relaxed)) return false;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(block) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(block) + size + page - 1) / page * page;
    return ::mlock(reinterpret_cast<void*>(begin), end - begin) == 0;
}

void* Hand(void* block, std::uint64_t kind, std::size_t total)
{
    auto* header = static_cast<BlockHeader*>(block);
    header->kind = kind;
    header->total = total;
    return header + 1;
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
    const std::size_t total = sizeof(BlockHeader) + (size + kAlignment - 1) / kAlignment * kAlignment;
    if (!BeyondLockLimit(total)) {
        if (void* block = sodium_malloc(total)) {
            if (LockHolds(block, total)) return Hand(block, kLocked, total);
            sodium_free(block);
        }
    }
    ReportFallback();
    void* block = std::aligned_alloc(kAlignment, total);
    if (!block) return nullptr;
    return Hand(block, kOrdinary, total);
}

void SecureFree(void* data) noexcept
{
    if (!data) return;
    BlockHeader* header = HeaderOf(data);
    if (header->kind == kLocked) {
        sodium_free(header);  // wipes it all, then unlocks and unmaps
        return;
    }
    sodium_memzero(header, header->total);
    std::free(header);
}

bool IsLockedMemory(const void* data)
{
    return data && HeaderOf(data)->kind == kLocked;
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
