#include "container/sealed_container.h"

#include "container/key_derivation.h"
#include "container/keystream.h"
#include "crypto/ciphers.h"
#include "crypto/random.h"
#include "crypto/secure.h"

#include <algorithm>

namespace quillix::container {

ContainerKeys DeriveContainerKeys(const ContainerHeader& header, const std::string& passwordText)
{
    ContainerKeys keys;
    keys.keyLen = static_cast<std::size_t>(crypto::CipherKeyLength(header.alg));
    (void)DeriveKeysCached(passwordText, header.salt, header.iters, std::span(keys.encKey).first(keys.keyLen),
                           keys.macKey.span());
    return keys;
}

Result<ContainerHeader> NewContainerHeader(const SealOptions& options, std::uint64_t plainLength,
                                           const std::string& passwordText, const std::string& sourcePath)
{
    if (options.alg < 0 || options.alg > 3) return MakeError(ErrorKind::Unsupported, "unknown cipher");
    // Lengths are signed 32-bit numbers in the format: a container of 2^31 bytes or more could
    // never be opened again.
    if (plainLength > MaxPlainLength(options.alg))
        return MakeError(ErrorKind::Unsupported, "its container would reach 2 GiB, which no reader accepts");
    ContainerHeader header;
    std::copy(kMagic.begin(), kMagic.end(), header.magic.begin());
    header.version = kFormatVersion;
    header.alg = static_cast<std::uint8_t>(options.alg);
    header.iters = options.fast ? kFastIterations : kNormalIterations;
    if (!MakeSalt(header.salt, sourcePath, passwordText, options.fast) || !crypto::RandomBytes(header.nonce))
        return MakeError(ErrorKind::Io, "no random bytes");
    header.encBytes = EncBytesFor(options.maxKiB, plainLength);
    header.headerSize = kHeaderSize;
    return header;
}

Result<std::vector<std::uint8_t>> SealContainer(std::span<const std::uint8_t> plain, const std::string& passwordText,
                                                const std::string& sourcePath, const SealOptions& options)
{
    Result<ContainerHeader> made = NewContainerHeader(options, plain.size(), passwordText, sourcePath);
    if (!made) return made.error();
    ContainerHeader& header = made.value();
    const ContainerKeys keys = DeriveContainerKeys(header, passwordText);
    Result<ContainerKeystream> keystream = ContainerKeystream::Make(header.alg, keys.cipherKey(), header.nonce);
    if (!keystream) return keystream.error();

    const std::span<const std::uint8_t> marker = MarkerBytes(header.alg);
    std::vector<std::uint8_t> out(kHeaderSize + plain.size() + marker.size());
    const std::span<std::uint8_t> body(out.data() + kHeaderSize, plain.size());
    std::copy(plain.begin(), plain.end(), body.begin());
    const std::uint64_t encrypted = header.encBytes != 0 ? header.encBytes : plain.size();
    keystream.value().Apply(body, 0, encrypted);

    ContainerMac mac(keys.macKey.span(), header);
    mac.Update(body);
    header.tag = mac.Final();
    const HeaderBytes headerBytes = SerializeContainerHeader(header);
    std::copy(headerBytes.begin(), headerBytes.end(), out.begin());
    std::copy(marker.begin(), marker.end(), out.end() - static_cast<std::ptrdiff_t>(marker.size()));
    return out;
}

Result<std::vector<std::uint8_t>> OpenContainer(std::vector<std::uint8_t> container, const std::string& passwordText)
{
    Result<ContainerLayout> checked = ValidateContainer(
        container.size(), MarkerKindOf(container), std::span(container).first(std::min(container.size(), kHeaderSize)));
    if (!checked) return checked.error();
    const ContainerLayout& layout = checked.value();
    const std::span<std::uint8_t> body(container.data() + kHeaderSize, layout.bodyLength);

    const ContainerKeys keys = DeriveContainerKeys(layout.header, passwordText);
    ContainerMac mac(keys.macKey.span(), layout.header);
    mac.Update(body);
    if (!crypto::ConstantTimeEqual(mac.Final(), layout.header.tag))
        return MakeError(ErrorKind::WrongPassword, kMacMismatch);

    Result<ContainerKeystream> keystream =
        ContainerKeystream::Make(layout.header.alg, keys.cipherKey(), layout.header.nonce);
    if (!keystream) return keystream.error();
    keystream.value().Apply(body, 0, layout.encryptedLength);
    container.resize(kHeaderSize + layout.bodyLength);
    container.erase(container.begin(), container.begin() + kHeaderSize);
    return container;
}

}  // namespace quillix::container
