#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

// The keys of strong containers: Argon2id of the password's bytes as typed (no file name), with
// a cache for the run keyed by a hash of the password, the salt, the passes and the memory.
namespace quillix::container {

// Uncached: every call runs Argon2id. False when it could not run (memory); the key is zeroed.
[[nodiscard]] bool DeriveStrongKey(const std::string& password, std::span<const std::uint8_t, 16> salt,
                                   std::uint32_t passes, std::uint32_t memoryKiB, std::span<std::uint8_t, 32> key);

// DeriveStrongKey through the cache. Safe from any thread: a key being derived is waited for,
// not derived again, and the derivation runs outside the cache's lock, so other keys never
// wait for it.
[[nodiscard]] bool DeriveStrongKeyCached(const std::string& password, std::span<const std::uint8_t, 16> salt,
                                         std::uint32_t passes, std::uint32_t memoryKiB,
                                         std::span<std::uint8_t, 32> key);

// The salt of new strong containers under `password`: random, made once per password for the
// run (until the cache is cleared), so that a folder encrypted in one run derives one key.
// False only when the random source fails.
[[nodiscard]] bool StrongSaltFor(const std::string& password, std::span<std::uint8_t, 16> salt);

// Forgets (and wipes) every strong key and every salt of the run; ClearKeyCache calls it.
void ClearStrongKeys();

// How many Argon2id derivations this process has run.
std::uint64_t StrongDerivationCount();

// Lets tests hold a derivation and see a second asker wait: `deriving` runs on the deriving
// thread before Argon2id, outside every lock; `waiting` runs, under the cache's lock, when a
// thread starts to wait for a key another thread is deriving. Empty hooks do nothing.
struct StrongKeyHooks {
    std::function<void()> deriving;
    std::function<void()> waiting;
};
void SetStrongKeyHooks(StrongKeyHooks hooks);

}  // namespace quillix::container
