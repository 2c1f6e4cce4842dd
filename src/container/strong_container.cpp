#include "container/strong_container.h"

#include "common/temp_file.h"
#include "common/unique_fd.h"
#include "container/sealed_container.h"
#include "container/strong_keys.h"
#include "crypto/secure_memory.h"
#include "crypto/sodium.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace quillix::container {
namespace {

// Messages handled per read and write: a few megabytes, so that system calls cost nothing
// next to the cipher.
constexpr std::size_t kMessagesPerBlock = 32;
constexpr std::size_t kMessageSize = std::size_t{kStrongChunkSize} + kStrongMessageOverhead;

Error Damaged(const char* why)
{
    return MakeError(ErrorKind::Truncated, why);
}

}  // namespace

Result<StrongHeader> NewStrongHeader(const std::string& password)
{
    StrongHeader header;
    if (!StrongSaltFor(password, header.salt)) return MakeError(ErrorKind::Io, "no random bytes");
    return header;
}

Result<StrongKey> StrongKeyOf(const StrongHeader& header, const std::string& password)
{
    StrongKey key;
    if (!DeriveStrongKeyCached(password, header.salt, header.passes, header.memoryKiB, key.span()))
        return MakeError(ErrorKind::Io, "not enough memory to derive the key");
    return key;
}

Result<StrongLayout> ReadStrongHeader(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return MakeError(ErrorKind::Io, "not a regular file");
    StrongHeaderBytes head{};
    const long long got = ReadAt(fd, head, 0);
    if (got < 0) return MakeError(ErrorKind::Io, std::strerror(errno));
    return ValidateStrongContainer(static_cast<std::uint64_t>(st.st_size),
                                   std::span<const std::uint8_t>(head.data(), static_cast<std::size_t>(got)));
}

Result<void> WriteStrongContainer(int in, std::uint64_t plainLength, int out, StrongHeader header, const StrongKey& key,
                                  const BeforeRead& beforeRead, const std::string& source, const std::string& target)
{
    crypto::SecretStreamPush stream;
    if (!stream.Init(key.span(), header.streamHeader)) return MakeError(ErrorKind::Io, "libsodium cannot be used");
    const StrongHeaderBytes headerBytes = SerializeStrongHeader(header);
    if (!WriteAll(out, headerBytes)) return ErrnoError("cannot write " + target);

    // No larger than the file needs: a small picture does not pay for filling megabytes.
    const std::size_t chunks = static_cast<std::size_t>(
        std::min<std::uint64_t>(kMessagesPerBlock, (plainLength + kStrongChunkSize - 1) / kStrongChunkSize));
    crypto::SecureBytes plain(std::max<std::size_t>(chunks, 1) * kStrongChunkSize);
    // A block of full chunks that ends the file is followed by the empty final message.
    std::vector<std::uint8_t> sealed(chunks * kMessageSize + kStrongMessageOverhead);
    bool first = true, finished = false;
    for (std::uint64_t done = 0; !finished;) {
        if (beforeRead) {
            Result<void> fine = beforeRead();
            if (!fine) return fine;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(plain.size(), plainLength - done));
        const long long got = ReadAt(in, std::span(plain).first(want), done);
        if (got < 0) return ErrnoError("cannot read " + source);
        const std::size_t block = static_cast<std::size_t>(got);
        // The file ends here when it gave less than asked, or when the length to take is reached.
        const bool ends = block < want || done + block == plainLength;
        std::size_t sealedLength = 0;
        for (std::size_t at = 0; !finished && (at < block || ends);) {
            const std::size_t length = std::min<std::size_t>(kStrongChunkSize, block - at);
            // Only a chunk shorter than a full one is the last: after a full last chunk comes an
            // empty final message.
            finished = length < kStrongChunkSize;
            const std::span<std::uint8_t> message =
                std::span(sealed).subspan(sealedLength, length + kStrongMessageOverhead);
            if (!stream.Push(message, std::span(plain).subspan(at, length),
                             first ? std::span<const std::uint8_t>(headerBytes) : std::span<const std::uint8_t>(),
                             finished ? crypto::StreamTag::Final : crypto::StreamTag::Message))
                return MakeError(ErrorKind::Io, "libsodium refused to encrypt");
            first = false;
            sealedLength += message.size();
            at += length;
            if (at == block && !ends) break;
        }
        if (!WriteAll(out, std::span(sealed).first(sealedLength))) return ErrnoError("cannot write " + target);
        done += block;
    }
    return {};
}

namespace {

// Reads the body in blocks of messages; each block's plain bytes go where `target(done, length)`
// says, and then to `sink` when there is one, after which a reused block is wiped.
template <typename Target>
Result<void> ReadBlocks(int fd, const StrongLayout& layout, const StrongKey& key, const Target& target,
                        const StrongPlainSink& sink, bool wipeEachBlock)
{
    crypto::SecretStreamPull stream;
    if (!stream.Init(key.span(), layout.header.streamHeader)) return MakeError(ErrorKind::WrongPassword, kMacMismatch);
    const StrongHeaderBytes headerBytes = SerializeStrongHeader(layout.header);

    const std::uint64_t bodyLength = StrongContainerLength(layout.plainLength) - kStrongHeaderSize;
    const std::size_t messages = static_cast<std::size_t>(std::min<std::uint64_t>(kMessagesPerBlock, layout.messages));
    // Read into before it is used: zeroing it first would cost a pass over every file.
    const std::size_t sealedSize = messages * kMessageSize;
    const auto sealedBytes = std::make_unique_for_overwrite<std::uint8_t[]>(sealedSize);
    const std::span<std::uint8_t> sealed(sealedBytes.get(), sealedSize);
    std::uint64_t message = 0, plainDone = 0;
    for (std::uint64_t done = 0; done < bodyLength;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sealed.size(), bodyLength - done));
        const long long got = ReadAt(fd, sealed.first(want), kStrongHeaderSize + done);
        if (got < 0) return ErrnoError("cannot read the container");
        if (got != static_cast<long long>(want)) return MakeError(ErrorKind::Changed, "container changed while read");

        const std::size_t blockMessages = (want + kMessageSize - 1) / kMessageSize;
        const std::span<std::uint8_t> plain = target(plainDone, want - blockMessages * kStrongMessageOverhead);
        std::size_t plainLength = 0;
        for (std::size_t at = 0; at < want; ++message) {
            const std::size_t length = std::min(kMessageSize, want - at);
            const std::span<std::uint8_t> out = plain.subspan(plainLength, length - kStrongMessageOverhead);
            crypto::StreamTag tag{};
            if (!stream.Pull(out, tag, sealed.subspan(at, length),
                             message == 0 ? std::span<const std::uint8_t>(headerBytes)
                                          : std::span<const std::uint8_t>()))
                return MakeError(ErrorKind::WrongPassword, kMacMismatch);
            const bool last = message + 1 == layout.messages;
            if (tag == crypto::StreamTag::Final && !last) return Damaged("bytes after the container's final message");
            if (tag == crypto::StreamTag::Message && last) return Damaged("container cut short: no final message");
            if (tag != crypto::StreamTag::Final && tag != crypto::StreamTag::Message)
                return MakeError(ErrorKind::BadHeader, "a message of an unknown kind");
            plainLength += out.size();
            at += length;
        }
        if (sink && !sink(plain.first(plainLength), plainDone)) return ErrnoError("cannot write the plain file");
        if (wipeEachBlock) crypto::SecureWipe(plain.data(), plainLength);
        plainDone += plainLength;
        done += want;
    }
    return {};
}

}  // namespace

Result<void> ReadStrongBody(int fd, const StrongLayout& layout, const StrongKey& key, const StrongPlainSink& sink)
{
    const std::size_t messages = static_cast<std::size_t>(std::min<std::uint64_t>(kMessagesPerBlock, layout.messages));
    crypto::SecureBytes block(messages * kStrongChunkSize);
    const auto target = [&block](std::uint64_t, std::size_t length) { return std::span(block).first(length); };
    return ReadBlocks(fd, layout, key, target, sink, true);
}

Result<void> ReadStrongBodyInto(int fd, const StrongLayout& layout, const StrongKey& key, std::span<std::uint8_t> plain)
{
    if (plain.size() != layout.plainLength) return MakeError(ErrorKind::Io, "the plain buffer does not fit");
    const auto target = [plain](std::uint64_t done, std::size_t length) {
        return plain.subspan(static_cast<std::size_t>(done), length);
    };
    return ReadBlocks(fd, layout, key, target, nullptr, false);
}

}  // namespace quillix::container
