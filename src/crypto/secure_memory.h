#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// Memory for passwords, keys and decrypted pictures: locked so that it is never swapped, left out
// of core dumps, fenced by guard pages, wiped when freed. Small blocks come from libsodium's
// guarded allocator (sodium_malloc); large ones are mapped the same way here, with transparent
// huge pages asked for first, which sodium_malloc cannot do.
namespace quillix::crypto {

// Turns core dumps off and keeps other processes of the user from attaching (PR_SET_DUMPABLE),
// readies the guarded allocator, and raises the locked-memory limit as far as this process may.
// Called first thing by both programs, before any secret is read; may be called again.
void ProtectProcessMemory();

// `size` bytes, 64-byte aligned, locked when the locked-memory limit allows. When it does not,
// the memory is ordinary, still wiped when freed, and the first such fall-back says so once on
// stderr. Null only when memory runs out. Each call costs a few pages and system calls: meant for
// buffers and key sets, not for many small objects.
void* SecureAllocate(std::size_t size);

// Wipes and frees what SecureAllocate returned; null is ignored.
void SecureFree(void* data) noexcept;

// Whether `data` (from SecureAllocate) was locked.
bool IsLockedMemory(const void* data);

// Whether the fall-back to ordinary memory has happened in this process (and been reported).
bool LockFallbackReported();

// For tests: while true, every lock fails as if the limit were reached.
void SimulateLockFailure(bool fail);

// An allocator over SecureAllocate for standard containers. Elements are default-initialised, so
// a byte buffer resized for a decryption is not zeroed first: it is overwritten anyway.
template <typename T> struct SecureAllocator {
    using value_type = T;
    using is_always_equal = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;

    SecureAllocator() = default;
    template <typename U> SecureAllocator(const SecureAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
        void* data = SecureAllocate(n * sizeof(T));
        if (!data) throw std::bad_alloc();
        return static_cast<T*>(data);
    }
    void deallocate(T* data, std::size_t) noexcept { SecureFree(data); }

    template <typename U> void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args> void construct(U* at, Args&&... args)
    {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }

    template <typename U> bool operator==(const SecureAllocator<U>&) const noexcept { return true; }
};

// Decrypted bytes.
using SecureBytes = std::vector<std::uint8_t, SecureAllocator<std::uint8_t>>;

// A secret text. Its characters live in guarded memory only once it holds more than fits in the
// string object itself (15 bytes): reserve kSecureTextReserve before filling it.
using SecureString = std::basic_string<char, std::char_traits<char>, SecureAllocator<char>>;
inline constexpr std::size_t kSecureTextReserve = 64;

// A copy of `text` whose characters live in guarded memory.
inline SecureString ToSecureString(const char* text, std::size_t size)
{
    SecureString secure;
    secure.reserve(size < kSecureTextReserve ? kSecureTextReserve : size);
    secure.assign(text, size);
    return secure;
}

// Empties `text` and frees its characters, which wipes them.
inline void Forget(SecureString& text)
{
    SecureString().swap(text);
}

}  // namespace quillix::crypto
