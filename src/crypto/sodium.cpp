#include "crypto/sodium.h"

#include <sodium.h>

#include <algorithm>
#include <new>

namespace quillix::crypto {

static_assert(kStreamHeaderSize == crypto_secretstream_xchacha20poly1305_HEADERBYTES);
static_assert(kStreamOverhead == crypto_secretstream_xchacha20poly1305_ABYTES);
static_assert(kStreamKeySize == crypto_secretstream_xchacha20poly1305_KEYBYTES);
static_assert(static_cast<int>(StreamTag::Message) == crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
static_assert(static_cast<int>(StreamTag::Push) == crypto_secretstream_xchacha20poly1305_TAG_PUSH);
static_assert(static_cast<int>(StreamTag::Rekey) == crypto_secretstream_xchacha20poly1305_TAG_REKEY);
static_assert(static_cast<int>(StreamTag::Final) == crypto_secretstream_xchacha20poly1305_TAG_FINAL);

bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool Argon2id(std::span<std::uint8_t> key, std::span<const std::uint8_t> password,
              std::span<const std::uint8_t, 16> salt, std::uint32_t passes, std::uint32_t memoryKiB)
{
    static_assert(crypto_pwhash_SALTBYTES == 16);
    const bool done =
        SodiumReady() &&
        crypto_pwhash(key.data(), key.size(), reinterpret_cast<const char*>(password.data()), password.size(),
                      salt.data(), passes, std::size_t{memoryKiB} * 1024, crypto_pwhash_ALG_ARGON2ID13) == 0;
    if (!done) sodium_memzero(key.data(), key.size());
    return done;
}

struct SecretStreamPush::State {
    crypto_secretstream_xchacha20poly1305_state state;
};

SecretStreamPush::SecretStreamPush() : state_(new State{}) {}

SecretStreamPush::~SecretStreamPush()
{
    sodium_memzero(state_, sizeof *state_);
    delete state_;
}

bool SecretStreamPush::Init(std::span<const std::uint8_t, kStreamKeySize> key,
                            std::span<std::uint8_t, kStreamHeaderSize> header)
{
    return SodiumReady() &&
           crypto_secretstream_xchacha20poly1305_init_push(&state_->state, header.data(), key.data()) == 0;
}

bool SecretStreamPush::Push(std::span<std::uint8_t> out, std::span<const std::uint8_t> plain,
                            std::span<const std::uint8_t> additional, StreamTag tag)
{
    if (out.size() != plain.size() + kStreamOverhead) return false;
    return crypto_secretstream_xchacha20poly1305_push(&state_->state, out.data(), nullptr, plain.data(), plain.size(),
                                                      additional.empty() ? nullptr : additional.data(),
                                                      additional.size(), static_cast<unsigned char>(tag)) == 0;
}

struct SecretStreamPull::State {
    crypto_secretstream_xchacha20poly1305_state state;
};

SecretStreamPull::SecretStreamPull() : state_(new State{}) {}

SecretStreamPull::~SecretStreamPull()
{
    sodium_memzero(state_, sizeof *state_);
    delete state_;
}

bool SecretStreamPull::Init(std::span<const std::uint8_t, kStreamKeySize> key,
                            std::span<const std::uint8_t, kStreamHeaderSize> header)
{
    return SodiumReady() &&
           crypto_secretstream_xchacha20poly1305_init_pull(&state_->state, header.data(), key.data()) == 0;
}

bool SecretStreamPull::Pull(std::span<std::uint8_t> plain, StreamTag& tag, std::span<const std::uint8_t> message,
                            std::span<const std::uint8_t> additional)
{
    if (message.size() < kStreamOverhead || plain.size() != message.size() - kStreamOverhead) return false;
    unsigned char got = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&state_->state, plain.data(), nullptr, &got, message.data(),
                                                   message.size(), additional.empty() ? nullptr : additional.data(),
                                                   additional.size()) != 0) {
        sodium_memzero(plain.data(), plain.size());
        return false;
    }
    tag = static_cast<StreamTag>(got);
    return true;
}

}  // namespace quillix::crypto
