#include "container/strong_keys.h"

#include "container/key_derivation.h"
#include "crypto/random.h"
#include "crypto/secure.h"
#include "crypto/sodium.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace quillix::container {
namespace {

struct StrongKeyCache {
    std::mutex mutex;
    std::condition_variable derived;
    std::map<std::string, crypto::SecretBytes<32>> keys;
    std::map<std::string, crypto::SecretBytes<16>> salts;
    std::set<std::string> deriving;
    // Bumped by every clear, so a derivation that straddles one does not refill the cache.
    std::uint64_t clears = 0;
    StrongKeyHooks hooks;

    template <typename Map> static void Wipe(Map& map)
    {
        // The key texts hold a hash of the password, which lets guesses be tested: wiped too.
        for (auto node = map.begin(); node != map.end();) {
            auto handle = map.extract(node++);
            crypto::SecureWipe(handle.key());
        }
    }
    void clear()
    {
        Wipe(keys);
        Wipe(salts);
        ++clears;
    }
    void stopDeriving(const std::string& keyText)
    {
        auto handle = deriving.extract(keyText);
        if (!handle.empty()) crypto::SecureWipe(handle.value());
    }
    ~StrongKeyCache() { clear(); }
};

StrongKeyCache& Cache()
{
    static StrongKeyCache cache;
    return cache;
}

std::atomic<std::uint64_t> derivations{0};

// The salts are kept by the password's hash alone.
std::string SaltText(const std::string& password)
{
    constexpr std::array<std::uint8_t, 16> kNoSalt{};
    return KeyCacheText(password, 0, 0, kNoSalt);
}

}  // namespace

bool DeriveStrongKey(const std::string& password, std::span<const std::uint8_t, 16> salt, std::uint32_t passes,
                     std::uint32_t memoryKiB, std::span<std::uint8_t, 32> key)
{
    ++derivations;
    return crypto::Argon2id(key, crypto::AsBytes(password), salt, passes, memoryKiB);
}

bool DeriveStrongKeyCached(const std::string& password, std::span<const std::uint8_t, 16> salt, std::uint32_t passes,
                           std::uint32_t memoryKiB, std::span<std::uint8_t, 32> key)
{
    std::string keyText = KeyCacheText(password, passes, memoryKiB, salt);
    StrongKeyCache& cache = Cache();
    std::unique_lock lock(cache.mutex);
    if (cache.deriving.contains(keyText) && cache.hooks.waiting) cache.hooks.waiting();
    cache.derived.wait(lock, [&] { return !cache.deriving.contains(keyText); });
    if (const auto found = cache.keys.find(keyText); found != cache.keys.end()) {
        std::copy(found->second.begin(), found->second.end(), key.begin());
        crypto::SecureWipe(keyText);
        return true;
    }
    cache.deriving.insert(keyText);
    const std::uint64_t clears = cache.clears;
    const std::function<void()> hook = cache.hooks.deriving;
    lock.unlock();

    crypto::SecretBytes<32> made;
    bool ok = false;
    try {
        if (hook) hook();
        ok = DeriveStrongKey(password, salt, passes, memoryKiB, made.span());
    } catch (...) {
        lock.lock();
        cache.stopDeriving(keyText);
        cache.derived.notify_all();
        crypto::SecureWipe(keyText);
        throw;
    }
    std::copy(made.begin(), made.end(), key.begin());

    lock.lock();
    cache.stopDeriving(keyText);
    if (ok && cache.clears == clears) cache.keys.emplace(keyText, made);
    cache.derived.notify_all();
    crypto::SecureWipe(keyText);
    return ok;
}

bool StrongSaltFor(const std::string& password, std::span<std::uint8_t, 16> salt)
{
    std::string saltText = SaltText(password);
    StrongKeyCache& cache = Cache();
    std::lock_guard lock(cache.mutex);
    auto found = cache.salts.find(saltText);
    if (found == cache.salts.end()) {
        crypto::SecretBytes<16> made;
        if (!crypto::RandomBytes(made.span())) {
            crypto::SecureWipe(saltText);
            return false;
        }
        found = cache.salts.emplace(saltText, made).first;
    }
    std::copy(found->second.begin(), found->second.end(), salt.begin());
    crypto::SecureWipe(saltText);
    return true;
}

void ClearStrongKeys()
{
    StrongKeyCache& cache = Cache();
    std::lock_guard lock(cache.mutex);
    cache.clear();
}

std::uint64_t StrongDerivationCount()
{
    return derivations.load();
}

void SetStrongKeyHooks(StrongKeyHooks hooks)
{
    StrongKeyCache& cache = Cache();
    std::lock_guard lock(cache.mutex);
    cache.hooks = std::move(hooks);
}

}  // namespace quillix::container
