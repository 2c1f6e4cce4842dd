#pragma once

#include "common/result.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

// The container's byte layout: header, body, trailer marker. Knows no cipher and no file.
namespace quillix::container {

inline constexpr std::size_t kHeaderSize = 84;
inline constexpr std::uint8_t kFormatVersion = 2;
inline constexpr std::array<char, 4> kMagic = {'Q', 'L', 'X', '1'};
inline constexpr std::size_t kTagOffset = 48;
inline constexpr std::size_t kTagSize = 32;
inline constexpr std::size_t kMarkerSize = 7;
// The program writes 200000 or 20000; a larger count can only come from a damaged or hostile
// header, and deriving with it would hold the window for minutes before the MAC rejects it.
inline constexpr std::uint32_t kMaxIterations = 10'000'000;
// Lengths are signed 32-bit in the format's arithmetic; 2^31 bytes or more is refused.
inline constexpr std::uint64_t kMaxFileLength = (std::uint64_t{1} << 31) - 1;

// The largest plain file whose container with cipher `alg` (header, body, marker) stays below
// 2^31 bytes, so that every reader accepts it.
std::uint64_t MaxPlainLength(int alg);

using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;

struct ContainerHeader {
    std::array<std::uint8_t, 4> magic{};
    std::uint8_t version = 0;
    std::uint8_t alg = 0;
    std::uint16_t reserved = 0;
    std::uint32_t iters = 0;
    std::array<std::uint8_t, 16> salt{};
    std::array<std::uint8_t, 16> nonce{};
    std::uint32_t encBytes = 0;
    std::array<std::uint8_t, 32> tag{};
    std::uint32_t headerSize = 0;

    bool operator==(const ContainerHeader&) const = default;
};

// Little-endian field by field; SerializeContainerHeader(ParseContainerHeader(b)) == b.
ContainerHeader ParseContainerHeader(std::span<const std::uint8_t, kHeaderSize> bytes);
HeaderBytes SerializeContainerHeader(const ContainerHeader& header);

// Where the parts of a validated container lie.
struct ContainerLayout {
    ContainerHeader header;
    std::uint64_t bodyLength = 0;       // N: bytes between the header and the marker
    std::uint64_t encryptedLength = 0;  // E: leading body bytes under the keystream, at most N
};

// Checks a container of `fileLength` bytes, whose trailer marker kind is `markerKind` and whose
// first bytes are `head` (fewer than 84 when the file gave fewer), in the fixed order: length,
// payload length, header read, magic, version, header size, cipher, iteration bound.
Result<ContainerLayout> ValidateContainer(std::uint64_t fileLength, int markerKind, std::span<const std::uint8_t> head);

// Trailer markers: kind 1 "$$$B$$$" (Blowfish), 2 "$$$C$$$" (ChaCha20), 3 "$$$T$$$" (Twofish);
// AES containers (kind 0) have none.
int MarkerLength(int kind);
// The marker bytes of `alg`, or an empty span when it has none.
std::span<const std::uint8_t> MarkerBytes(int alg);
// The kind named by the last 7 bytes of `tail`: B is compared first, then T, then C; 0 when the
// tail is shorter than a marker or names none.
int MarkerKindOf(std::span<const std::uint8_t> tail);

// "version=%d  alg=%d  iters=%lu  encBytes=%lu" from the first 84 bytes of any file; the magic
// is not checked, so a plain file shows whatever its first bytes give.
std::string HeaderInfoText(std::span<const std::uint8_t, kHeaderSize> bytes);

// The value encBytes gets for a plain file of `plainLength` bytes when `maxKiB` is the
// MaxKiB option: min(maxKiB × 1024, plainLength), or 0 (all of it) when maxKiB ≤ 0.
std::uint32_t EncBytesFor(std::int64_t maxKiB, std::uint64_t plainLength);

}  // namespace quillix::container
