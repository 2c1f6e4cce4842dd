#include "container/key_derivation.h"

#include "container/container_file.h"
#include "container/strong_keys.h"
#include "crypto/hashes.h"
#include "crypto/random.h"
#include "crypto/secure.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <utility>

namespace quillix::container {
namespace {

struct KeyCacheEntry {
    crypto::SecretBytes<32> encKey;
    crypto::SecretBytes<32> macKey;
    std::int32_t keyLen = 0;
};

struct KeyCache {
    std::mutex mutex;
    // Wakes the threads that wait for a key another thread is deriving.
    std::condition_variable derived;
    std::map<std::string, KeyCacheEntry> entries;
    // Key texts being derived right now, outside the lock.
    std::set<std::string> deriving;
    // Bumped by every clear, so a derivation that straddles one does not refill the cache.
    std::uint64_t clears = 0;
    std::function<void()> derivationStartHook;

    void clear()
    {
        // Entry keys wipe themselves; the key texts are wiped too, as a hash of the password
        // still lets guesses be tested against it.
        for (auto node = entries.begin(); node != entries.end();) {
            auto handle = entries.extract(node++);
            crypto::SecureWipe(handle.key());
        }
        ++clears;
    }
    void stopDeriving(const std::string& keyText)
    {
        auto handle = deriving.extract(keyText);
        if (!handle.empty()) crypto::SecureWipe(handle.value());
    }
    ~KeyCache() { clear(); }
};

KeyCache& Cache()
{
    static KeyCache cache;
    return cache;
}

std::atomic<std::uint64_t> derivations{0};

// The key of the cache's password hash, new in every process, so that a memory image shows no
// hash one could test guesses against without this key from the same image.
const crypto::SecretBytes<32>& LookupKey()
{
    static const crypto::SecretBytes<32> key = [] {
        crypto::SecretBytes<32> made;
        if (!crypto::RandomBytes(made.span())) {
            std::random_device device;
            for (std::uint8_t& byte : made)
                byte = static_cast<std::uint8_t>(device());
        }
        return made;
    }();
    return key;
}

}  // namespace

std::string BuildPasswordText(const std::string& path, const std::string& activePassword, bool fileNamePW)
{
    if (!fileNamePW) return activePassword;
    std::string name = FileNameOf(path);
    if (!name.empty() && name.front() == '$') name.erase(0, 1);
    // Sized once, so that no outgrown buffer with the password is left behind.
    std::string text;
    text.reserve(name.size() + 1 + activePassword.size());
    text += name;
    text += '|';
    text += activePassword;
    return text;
}

int FileNameHash(const std::string& path)
{
    std::uint32_t hash = 0x811C9DC5u;
    for (const char c : FileNameOf(path)) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 0x01000193u;
    }
    return static_cast<int>(hash % 50);
}

bool MakeSalt(std::span<std::uint8_t, 16> salt, const std::string& sourcePath, const std::string& passwordText,
              bool fast)
{
    if (!fast) return crypto::RandomBytes(salt);
    const std::string hash = std::to_string(FileNameHash(sourcePath));
    crypto::SecretText message;
    message.text.reserve(passwordText.size() + 1 + hash.size());
    message.text += passwordText;
    message.text += '|';
    message.text += hash;
    crypto::SecretBytes<32> mac;
    crypto::HmacSha256(crypto::AsBytes(passwordText), crypto::AsBytes(message.text), mac.span());
    std::copy_n(mac.begin(), salt.size(), salt.begin());
    return true;
}

void DeriveKeys(const std::string& passwordText, std::span<const std::uint8_t, 16> salt, std::uint32_t iterations,
                std::span<std::uint8_t> encKey, std::span<std::uint8_t, 32> macKey)
{
    const std::span<const std::uint8_t> password =
        crypto::AsBytes(passwordText).first(std::min(passwordText.size(), kMaxDerivedPasswordBytes));
    crypto::SecretBytes<96> derived;
    const std::size_t outLen = std::min<std::size_t>(encKey.size() + 32, derived.size());
    crypto::Pbkdf2HmacSha256(password, salt, iterations, std::span(derived).first(outLen));
    ++derivations;
    std::copy_n(derived.begin(), encKey.size(), encKey.begin());
    std::copy_n(derived.begin() + static_cast<std::ptrdiff_t>(encKey.size()), macKey.size(), macKey.begin());
}

bool DeriveKeysCached(const std::string& passwordText, std::span<const std::uint8_t, 16> salt, std::uint32_t iterations,
                      std::span<std::uint8_t> encKey, std::span<std::uint8_t, 32> macKey)
{
    if (encKey.size() != 16 && encKey.size() != 32) {
        std::fill(encKey.begin(), encKey.end(), 0);
        std::fill(macKey.begin(), macKey.end(), 0);
        return false;
    }
    std::string keyText = KeyCacheText(passwordText, iterations, encKey.size(), salt);
    const auto copyOut = [&](const KeyCacheEntry& entry) {
        std::copy_n(entry.encKey.begin(), encKey.size(), encKey.begin());
        std::copy(entry.macKey.begin(), entry.macKey.end(), macKey.begin());
    };
    KeyCache& cache = Cache();
    std::unique_lock lock(cache.mutex);
    // Another thread deriving this very key is waited for rather than repeated; keys for other
    // containers never wait for it, as the derivation itself runs outside the lock.
    cache.derived.wait(lock, [&] { return !cache.deriving.contains(keyText); });
    if (const auto found = cache.entries.find(keyText); found != cache.entries.end()) {
        copyOut(found->second);
        crypto::SecureWipe(keyText);
        return true;
    }
    cache.deriving.insert(keyText);
    const std::uint64_t clears = cache.clears;
    const std::function<void()> startHook = cache.derivationStartHook;
    lock.unlock();

    KeyCacheEntry entry;
    entry.keyLen = static_cast<std::int32_t>(encKey.size());
    try {
        if (startHook) startHook();
        DeriveKeys(passwordText, salt, iterations, std::span(entry.encKey).first(encKey.size()), entry.macKey.span());
    } catch (...) {
        lock.lock();
        cache.stopDeriving(keyText);
        cache.derived.notify_all();
        crypto::SecureWipe(keyText);
        throw;
    }
    copyOut(entry);

    lock.lock();
    cache.stopDeriving(keyText);
    if (cache.clears == clears) cache.entries.emplace(keyText, entry);
    cache.derived.notify_all();
    crypto::SecureWipe(keyText);
    return true;
}

void ClearKeyCache()
{
    KeyCache& cache = Cache();
    {
        std::lock_guard lock(cache.mutex);
        cache.clear();
    }
    ClearStrongKeys();
}

void SetDerivationStartHookForTesting(std::function<void()> hook)
{
    KeyCache& cache = Cache();
    std::lock_guard lock(cache.mutex);
    cache.derivationStartHook = std::move(hook);
}

std::uint64_t KeyDerivationCount()
{
    return derivations.load();
}

std::string KeyCacheText(const std::string& passwordText, std::uint32_t iterations, std::size_t keyLen,
                         std::span<const std::uint8_t, 16> salt)
{
    static const char hex[] = "0123456789ABCDEF";
    crypto::SecretBytes<32> digest;
    crypto::HmacSha256(LookupKey().span(), crypto::AsBytes(passwordText), digest.span());
    std::string text;
    text.reserve(2 * digest.size() + 2 * salt.size() + 24);
    for (const std::uint8_t b : digest) {
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    text += "|" + std::to_string(iterations) + "|" + std::to_string(keyLen) + "|";
    for (const std::uint8_t b : salt) {
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    return text;
}

}  // namespace quillix::container
