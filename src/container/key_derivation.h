#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

// Turning a password into a container's cipher and MAC keys, with the process-wide cache that
// keeps repeated viewing of the same container from paying for PBKDF2 again.
namespace quillix::container {

inline constexpr std::uint32_t kNormalIterations = 200000;
inline constexpr std::uint32_t kFastIterations = 20000;
// Bytes of the password text that enter PBKDF2; the rest still count for the salt and cache.
inline constexpr std::size_t kMaxDerivedPasswordBytes = 200;

// The text fed to the derivation: the password alone, or with `fileNamePW` the plain file name
// of `path` (no folder, no leading "$"), then "|", then the password.
std::string BuildPasswordText(const std::string& path, const std::string& activePassword, bool fileNamePW);

// FNV-1a (32-bit) of the file name of `path` without its folder, modulo 50.
int FileNameHash(const std::string& path);

// The salt of a new container: random bytes, or in the fast mode the first 16 bytes of
// HMAC-SHA-256(passwordText, passwordText | FileNameHash(sourcePath)), so a file name always
// gets the same salt under one password. False only when the random source fails.
bool MakeSalt(std::span<std::uint8_t, 16> salt, const std::string& sourcePath, const std::string& passwordText,
              bool fast);

// PBKDF2-HMAC-SHA-256 of the first 200 bytes of `passwordText`; encKey.size() (16 or 32) cipher
// key bytes, then the 32 MAC key bytes. Uncached: every call runs the full derivation.
void DeriveKeys(const std::string& passwordText, std::span<const std::uint8_t, 16> salt, std::uint32_t iterations,
                std::span<std::uint8_t> encKey, std::span<std::uint8_t, 32> macKey);

// DeriveKeys through the process-wide cache, keyed by a hash of the password text, iteration
// count, key length and salt. False (outputs zeroed) only for a key length other than 16 or 32. Safe from
// any thread: the derivation runs outside the cache's lock, and threads asking for a key that is
// being derived wait for that one instead of deriving it again.
bool DeriveKeysCached(const std::string& passwordText, std::span<const std::uint8_t, 16> salt, std::uint32_t iterations,
                      std::span<std::uint8_t> encKey, std::span<std::uint8_t, 32> macKey);

// Forgets (and wipes) every cached key, the strong containers' keys and salts too.
void ClearKeyCache();

// How many full derivations this process has run; lets tests see the cache at work.
std::uint64_t KeyDerivationCount();

// For tests only: `hook` runs on the deriving thread, outside the cache's lock, each time
// DeriveKeysCached starts a derivation, so a test can hold one under way and know it is.
// An empty function removes it.
void SetDerivationStartHookForTesting(std::function<void()> hook);

// The cache's key text: HMAC-SHA-256 of the password text under a random key of this process
// (64 upper-case hex digits; the text itself is never kept), "|", iterations, "|", key length,
// "|", salt as 32 upper-case hex digits.
std::string KeyCacheText(const std::string& passwordText, std::uint32_t iterations, std::size_t keyLen,
                         std::span<const std::uint8_t, 16> salt);

}  // namespace quillix::container
