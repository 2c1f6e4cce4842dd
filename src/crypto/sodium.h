#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// What the strong container takes from libsodium: Argon2id and the XChaCha20-Poly1305 secret
// stream. The stream states wipe themselves when they go.
namespace quillix::crypto {

inline constexpr std::size_t kStreamHeaderSize = 24;  // crypto_secretstream_xchacha20poly1305_HEADERBYTES
inline constexpr std::size_t kStreamOverhead = 17;    // crypto_secretstream_xchacha20poly1305_ABYTES
inline constexpr std::size_t kStreamKeySize = 32;

enum class StreamTag : std::uint8_t {
    Message = 0,  // crypto_secretstream_xchacha20poly1305_TAG_MESSAGE
    Push = 1,
    Rekey = 2,
    Final = 3,  // crypto_secretstream_xchacha20poly1305_TAG_FINAL
};

// Initialises libsodium once per process; false when it cannot be used.
bool SodiumReady();

// crypto_pwhash with Argon2id v1.3: `key.size()` bytes from the password bytes as given, the
// salt, `passes` (opslimit) and `memoryKiB` × 1024 bytes (memlimit). False when libsodium
// refuses the parameters or runs out of memory; the key is then zeroed.
[[nodiscard]] bool Argon2id(std::span<std::uint8_t> key, std::span<const std::uint8_t> password,
                            std::span<const std::uint8_t, 16> salt, std::uint32_t passes, std::uint32_t memoryKiB);

// The pushing side of a secret stream.
class SecretStreamPush {
public:
    SecretStreamPush();
    ~SecretStreamPush();
    SecretStreamPush(const SecretStreamPush&) = delete;
    SecretStreamPush& operator=(const SecretStreamPush&) = delete;

    // Starts a stream under `key` and gives the header a reader needs.
    [[nodiscard]] bool Init(std::span<const std::uint8_t, kStreamKeySize> key,
                            std::span<std::uint8_t, kStreamHeaderSize> header);
    // Encrypts `plain` into `out` (plain.size() + kStreamOverhead bytes).
    [[nodiscard]] bool Push(std::span<std::uint8_t> out, std::span<const std::uint8_t> plain,
                            std::span<const std::uint8_t> additional, StreamTag tag);

private:
    struct State;
    State* state_;
};

// The pulling side of a secret stream.
class SecretStreamPull {
public:
    SecretStreamPull();
    ~SecretStreamPull();
    SecretStreamPull(const SecretStreamPull&) = delete;
    SecretStreamPull& operator=(const SecretStreamPull&) = delete;

    // False when the header is not one of this key's streams.
    [[nodiscard]] bool Init(std::span<const std::uint8_t, kStreamKeySize> key,
                            std::span<const std::uint8_t, kStreamHeaderSize> header);
    // Authenticates and decrypts one message into `plain` (message.size() - kStreamOverhead
    // bytes); false when it does not authenticate, and `plain` then holds nothing of it.
    [[nodiscard]] bool Pull(std::span<std::uint8_t> plain, StreamTag& tag, std::span<const std::uint8_t> message,
                            std::span<const std::uint8_t> additional);

private:
    struct State;
    State* state_;
};

}  // namespace quillix::crypto
