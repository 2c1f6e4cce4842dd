#include "container/keystream.h"

#include "crypto/ciphers.h"

#include <algorithm>

namespace quillix::container {

Result<ContainerKeystream> ContainerKeystream::Make(int alg, std::span<const std::uint8_t> key,
                                                    std::span<const std::uint8_t, 16> nonce)
{
    if (alg < 0 || alg > 3) return MakeError(ErrorKind::Unsupported, "unknown cipher");
    if (key.size() != static_cast<std::size_t>(crypto::CipherKeyLength(alg)))
        return MakeError(ErrorKind::Unsupported, "key length does not fit the cipher");

    ContainerKeystream ks;
    ks.stream_ = std::make_unique<crypto::SecretBytes<kChunkSize>>();
    std::span<std::uint8_t> stream = *ks.stream_;
    bool ok = false;
    switch (alg) {
    case crypto::CipherAes: ok = crypto::Aes128Ctr(stream, key.first<16>(), nonce); break;
    case crypto::CipherBlowfish: {
        crypto::BlowfishContext context;
        crypto::BlowfishInit(context, key);
        ok = crypto::BlowfishCtr(context, stream, nonce);
        break;
    }
    case crypto::CipherChaCha20: ok = crypto::ChaCha20Xor(stream, key.first<32>(), nonce); break;
    case crypto::CipherTwofish: {
        crypto::TwofishContext context;
        crypto::TwofishInit(context, key);
        ok = crypto::TwofishCtr(context, stream, nonce);
        break;
    }
    }
    if (!ok) return MakeError(ErrorKind::Unsupported, "the cipher could not be keyed");
    return ks;
}

void ContainerKeystream::Apply(std::span<std::uint8_t> bytes, std::uint64_t bodyOffset,
                               std::uint64_t encryptedLength) const
{
    if (bodyOffset >= encryptedLength) return;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), encryptedLength - bodyOffset));
    const std::uint8_t* stream = stream_->data();
    std::size_t pos = static_cast<std::size_t>(bodyOffset % kChunkSize);
    std::uint8_t* out = bytes.data();
    for (std::size_t left = count; left > 0;) {
        const std::size_t run = std::min(left, kChunkSize - pos);
        for (std::size_t i = 0; i < run; ++i)
            out[i] ^= stream[pos + i];
        out += run;
        left -= run;
        pos = 0;
    }
}

ContainerMac::ContainerMac(std::span<const std::uint8_t, 32> macKey, const ContainerHeader& header)
{
    ContainerHeader zeroTag = header;
    zeroTag.tag.fill(0);
    crypto::HmacSha256Init(context_, macKey);
    crypto::HmacSha256Update(context_, SerializeContainerHeader(zeroTag));
}

void ContainerMac::Update(std::span<const std::uint8_t> body)
{
    crypto::HmacSha256Update(context_, body);
}

std::array<std::uint8_t, 32> ContainerMac::Final()
{
    std::array<std::uint8_t, 32> tag{};
    crypto::HmacSha256Final(context_, tag);
    return tag;
}

}  // namespace quillix::container
