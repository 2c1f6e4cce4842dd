#include "container/container_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quillix::container {
namespace {

std::uint16_t Load16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t Load32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void Store16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void Store32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

constexpr std::uint8_t kMarkers[3][kMarkerSize] = {
    {'$', '$', '$', 'B', '$', '$', '$'},
    {'$', '$', '$', 'C', '$', '$', '$'},
    {'$', '$', '$', 'T', '$', '$', '$'},
};

Error Reject(ErrorKind kind, const char* why)
{
    return MakeError(kind, why);
}

}  // namespace

ContainerHeader ParseContainerHeader(std::span<const std::uint8_t, kHeaderSize> bytes)
{
    const std::uint8_t* p = bytes.data();
    ContainerHeader h;
    std::memcpy(h.magic.data(), p, 4);
    h.version = p[4];
    h.alg = p[5];
    h.reserved = Load16(p + 6);
    h.iters = Load32(p + 8);
    std::memcpy(h.salt.data(), p + 12, 16);
    std::memcpy(h.nonce.data(), p + 28, 16);
    h.encBytes = Load32(p + 44);
    std::memcpy(h.tag.data(), p + 48, 32);
    h.headerSize = Load32(p + 80);
    return h;
}

HeaderBytes SerializeContainerHeader(const ContainerHeader& h)
{
    HeaderBytes b{};
    std::uint8_t* p = b.data();
    std::memcpy(p, h.magic.data(), 4);
    p[4] = h.version;
    p[5] = h.alg;
    Store16(p + 6, h.reserved);
    Store32(p + 8, h.iters);
    std::memcpy(p + 12, h.salt.data(), 16);
    std::memcpy(p + 28, h.nonce.data(), 16);
    Store32(p + 44, h.encBytes);
    std::memcpy(p + 48, h.tag.data(), 32);
    Store32(p + 80, h.headerSize);
    return b;
}

Result<ContainerLayout> ValidateContainer(std::uint64_t fileLength, int markerKind, std::span<const std::uint8_t> head)
{
    if (fileLength > kMaxFileLength) return Reject(ErrorKind::Unsupported, "file of 2 GiB or more");
    if (fileLength <= kHeaderSize) return Reject(ErrorKind::Truncated, "shorter than a container");
    const std::uint64_t marker = static_cast<std::uint64_t>(MarkerLength(markerKind));
    const std::uint64_t payload = marker > 0 && fileLength >= marker ? fileLength - marker : fileLength;
    if (payload <= kHeaderSize) return Reject(ErrorKind::Truncated, "container without body");
    if (head.size() < kHeaderSize) return Reject(ErrorKind::Truncated, "header cut short");

    ContainerLayout layout;
    layout.header = ParseContainerHeader(head.first<kHeaderSize>());
    const ContainerHeader& h = layout.header;
    if (!std::equal(kMagic.begin(), kMagic.end(), h.magic.begin()))
        return Reject(ErrorKind::BadHeader, "not a container");
    if (h.version != kFormatVersion) return Reject(ErrorKind::BadHeader, "unknown container version");
    if (h.headerSize != kHeaderSize) return Reject(ErrorKind::BadHeader, "bad header size");
    if (h.alg >= 4) return Reject(ErrorKind::BadHeader, "unknown cipher");
    if (h.iters > kMaxIterations) return Reject(ErrorKind::BadHeader, "iteration count out of range");

    layout.bodyLength = payload - kHeaderSize;
    const std::uint64_t e = h.encBytes != 0 ? h.encBytes : layout.bodyLength;
    layout.encryptedLength = std::min(e, layout.bodyLength);
    return layout;
}

std::uint64_t MaxPlainLength(int alg)
{
    return kMaxFileLength - kHeaderSize - MarkerBytes(alg).size();
}

int MarkerLength(int kind)
{
    return kind >= 1 && kind <= 3 ? static_cast<int>(kMarkerSize) : 0;
}

std::span<const std::uint8_t> MarkerBytes(int alg)
{
    switch (alg) {
    case 1: return kMarkers[0];
    case 2: return kMarkers[1];
    case 3: return kMarkers[2];
    default: return {};
    }
}

int MarkerKindOf(std::span<const std::uint8_t> tail)
{
    if (tail.size() < kMarkerSize) return 0;
    const std::span<const std::uint8_t> last = tail.last(kMarkerSize);
    for (int kind : {1, 3, 2}) {
        const std::span<const std::uint8_t> marker = MarkerBytes(kind);
        if (std::equal(marker.begin(), marker.end(), last.begin())) return kind;
    }
    return 0;
}

std::string HeaderInfoText(std::span<const std::uint8_t, kHeaderSize> bytes)
{
    char text[96];
    std::snprintf(text, sizeof text, "version=%d  alg=%d  iters=%lu  encBytes=%lu", bytes[4], bytes[5],
                  static_cast<unsigned long>(Load32(bytes.data() + 8)),
                  static_cast<unsigned long>(Load32(bytes.data() + 44)));
    return text;
}

std::uint32_t EncBytesFor(std::int64_t maxKiB, std::uint64_t plainLength)
{
    if (maxKiB <= 0) return 0;
    const std::uint64_t limit = static_cast<std::uint64_t>(maxKiB) * 1024;
    return static_cast<std::uint32_t>(std::min({limit, plainLength, std::uint64_t{0xFFFFFFFF}}));
}

}  // namespace quillix::container
