#include "container/strong_format.h"

#include <algorithm>
#include <cstring>

namespace quillix::container {
namespace {

constexpr std::array<std::uint8_t, 4> kStrongMagic = {'Q', 'L', 'X', '1'};

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

constexpr std::uint64_t kMessageSize = std::uint64_t{kStrongChunkSize} + kStrongMessageOverhead;

}  // namespace

StrongHeader ParseStrongHeader(std::span<const std::uint8_t, kStrongHeaderSize> bytes)
{
    const std::uint8_t* p = bytes.data();
    StrongHeader h;
    std::memcpy(h.magic.data(), p, 4);
    h.version = p[4];
    h.kdf = p[5];
    h.reserved = Load16(p + 6);
    h.passes = Load32(p + 8);
    h.memoryKiB = Load32(p + 12);
    std::memcpy(h.salt.data(), p + 16, 16);
    std::memcpy(h.streamHeader.data(), p + 32, 24);
    h.chunkLength = Load32(p + 56);
    h.headerLength = Load32(p + 60);
    return h;
}

StrongHeaderBytes SerializeStrongHeader(const StrongHeader& h)
{
    StrongHeaderBytes b{};
    std::uint8_t* p = b.data();
    std::memcpy(p, h.magic.data(), 4);
    p[4] = h.version;
    p[5] = h.kdf;
    Store16(p + 6, h.reserved);
    Store32(p + 8, h.passes);
    Store32(p + 12, h.memoryKiB);
    std::memcpy(p + 16, h.salt.data(), 16);
    std::memcpy(p + 32, h.streamHeader.data(), 24);
    Store32(p + 56, h.chunkLength);
    Store32(p + 60, h.headerLength);
    return b;
}

bool IsStrongHead(std::span<const std::uint8_t> head)
{
    return head.size() >= 5 && std::equal(kStrongMagic.begin(), kStrongMagic.end(), head.begin()) &&
           head[4] == kStrongVersion;
}

std::uint64_t StrongContainerLength(std::uint64_t plainLength)
{
    const std::uint64_t messages = plainLength / kStrongChunkSize + 1;
    return kStrongHeaderSize + plainLength + messages * kStrongMessageOverhead;
}

Result<StrongLayout> ValidateStrongContainer(std::uint64_t fileLength, std::span<const std::uint8_t> head)
{
    if (fileLength < kStrongHeaderSize || head.size() < kStrongHeaderSize)
        return MakeError(ErrorKind::Truncated, "header cut short");
    StrongLayout layout;
    layout.header = ParseStrongHeader(head.first<kStrongHeaderSize>());
    const StrongHeader& h = layout.header;
    if (h.magic != kStrongMagic) return MakeError(ErrorKind::BadHeader, "not a container");
    if (h.version != kStrongVersion) return MakeError(ErrorKind::BadHeader, "unknown container version");
    if (h.kdf != kKdfArgon2id13) return MakeError(ErrorKind::BadHeader, "unknown key derivation");
    if (h.reserved != 0) return MakeError(ErrorKind::BadHeader, "reserved bytes not zero");
    if (h.passes < kStrongMinPasses || h.passes > kStrongMaxPasses)
        return MakeError(ErrorKind::BadHeader, "Argon2 passes out of range");
    if (h.memoryKiB < kStrongMinMemoryKiB || h.memoryKiB > kStrongMaxMemoryKiB)
        return MakeError(ErrorKind::BadHeader, "Argon2 memory out of range");
    if (h.chunkLength != kStrongChunkSize) return MakeError(ErrorKind::BadHeader, "bad chunk length");
    if (h.headerLength != kStrongHeaderSize) return MakeError(ErrorKind::BadHeader, "bad header size");

    // Every message but the last carries a full chunk, and the last one less than a chunk: the
    // length alone says where each message ends, and any other length is cut short or has
    // bytes after its end.
    const std::uint64_t body = fileLength - kStrongHeaderSize;
    const std::uint64_t last = body % kMessageSize;
    if (last < kStrongMessageOverhead)
        return MakeError(ErrorKind::Truncated, "container cut short or with bytes after its end");
    layout.messages = body / kMessageSize + 1;
    layout.plainLength = (layout.messages - 1) * kStrongChunkSize + (last - kStrongMessageOverhead);
    return layout;
}

std::string StrongHeaderInfoText(std::span<const std::uint8_t, kStrongHeaderSize> bytes)
{
    const StrongHeader h = ParseStrongHeader(bytes);
    const std::string kdf = h.kdf == kKdfArgon2id13 ? "Argon2id" : std::to_string(h.kdf);
    return "version=" + std::to_string(h.version) + "  kdf=" + kdf + "  passes=" + std::to_string(h.passes) +
           "  memory=" + std::to_string(h.memoryKiB) + " KiB";
}

}  // namespace quillix::container
