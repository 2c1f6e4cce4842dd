#pragma once

#include "common/result.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

// The strong container's byte layout: a 64-byte header, then the plain bytes in 65536-byte
// chunks, each one message of an XChaCha20-Poly1305 secret stream, the last with the FINAL tag.
// Knows no key and no file.
namespace quillix::container {

inline constexpr std::uint8_t kStrongVersion = 3;
inline constexpr std::size_t kStrongHeaderSize = 64;
inline constexpr std::uint32_t kStrongChunkSize = 65536;
// Each message is this much longer than its chunk.
inline constexpr std::uint32_t kStrongMessageOverhead = 17;
inline constexpr std::uint8_t kKdfArgon2id13 = 1;
// What new containers are written with.
inline constexpr std::uint32_t kStrongPasses = 3;
inline constexpr std::uint32_t kStrongMemoryKiB = 65536;
// What a header may ask for: more would let a hostile file hold the program for minutes or take
// gigabytes before anything is authenticated.
inline constexpr std::uint32_t kStrongMinPasses = 1;
inline constexpr std::uint32_t kStrongMaxPasses = 10;
inline constexpr std::uint32_t kStrongMinMemoryKiB = 8;
inline constexpr std::uint32_t kStrongMaxMemoryKiB = 1048576;

using StrongHeaderBytes = std::array<std::uint8_t, kStrongHeaderSize>;

struct StrongHeader {
    std::array<std::uint8_t, 4> magic{'Q', 'L', 'X', '1'};
    std::uint8_t version = kStrongVersion;
    std::uint8_t kdf = kKdfArgon2id13;
    std::uint16_t reserved = 0;
    std::uint32_t passes = kStrongPasses;
    std::uint32_t memoryKiB = kStrongMemoryKiB;
    std::array<std::uint8_t, 16> salt{};
    std::array<std::uint8_t, 24> streamHeader{};
    std::uint32_t chunkLength = kStrongChunkSize;
    std::uint32_t headerLength = kStrongHeaderSize;

    bool operator==(const StrongHeader&) const = default;
};

// Little-endian field by field; SerializeStrongHeader(ParseStrongHeader(b)) == b.
StrongHeader ParseStrongHeader(std::span<const std::uint8_t, kStrongHeaderSize> bytes);
StrongHeaderBytes SerializeStrongHeader(const StrongHeader& header);

// True when `head` begins with the magic and version 3: such a file is a strong container,
// whatever its name.
bool IsStrongHead(std::span<const std::uint8_t> head);

// Where the parts of a validated strong container lie.
struct StrongLayout {
    StrongHeader header;
    std::uint64_t plainLength = 0;
    std::uint64_t messages = 0;  // the final one included
};

// The length of the strong container of `plainLength` plain bytes.
std::uint64_t StrongContainerLength(std::uint64_t plainLength);

// Checks a strong container of `fileLength` bytes whose first bytes are `head` (fewer than 64
// when the file gave fewer): header cut short, magic, version, key derivation, reserved bytes,
// passes, memory, chunk length, header length, then a body length that messages of this chunk
// length cannot make (a message cut short, a missing final message, trailing bytes). Nothing is
// derived or allocated here.
Result<StrongLayout> ValidateStrongContainer(std::uint64_t fileLength, std::span<const std::uint8_t> head);

// "version=3  kdf=Argon2id  passes=3  memory=65536 KiB", the values from the header.
std::string StrongHeaderInfoText(std::span<const std::uint8_t, kStrongHeaderSize> bytes);

}  // namespace quillix::container
