#include "container/file_ops.h"

#include "common/memory.h"
#include "common/temp_file.h"
#include "common/unique_fd.h"
#include "container/container_file.h"
#include "container/key_derivation.h"
#include "container/keystream.h"
#include "container/sealed_container.h"
#include "crypto/random.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace quillix::container {
namespace {

// A multiple of the chunk size, so every buffer starts a fresh keystream run; larger than one
// chunk only to save system calls.
constexpr std::size_t kIoBufferSize = 32 * kChunkSize;

bool WriteAt(int fd, std::span<const std::uint8_t> data, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

struct OpenedContainer {
    UniqueFd fd;
    ContainerLayout layout;
    mode_t mode = 0600;
};

Result<OpenedContainer> OpenAndValidate(const std::string& path)
{
    OpenedContainer opened;
    opened.fd = OpenFile(path, O_RDONLY);
    if (!opened.fd) return ErrnoError("cannot open " + path);
    Result<ContainerLayout> layout = ReadContainerHeader(opened.fd.get());
    if (!layout) return layout.error();
    opened.layout = layout.value();
    struct stat st {};
    if (::fstat(opened.fd.get(), &st) == 0) opened.mode = st.st_mode & 0777;
    return opened;
}

// Reads the body chunk by chunk, feeding the MAC; with `keystream` it also decrypts each chunk
// and writes it to `out`. Fails on a short read, a failed write or a MAC mismatch.
Result<void> ProcessBody(const OpenedContainer& c, const ContainerKeys& keys, const ContainerKeystream* keystream,
                         int out, std::vector<std::uint8_t>& buffer)
{
    ContainerMac mac(keys.macKey.span(), c.layout.header);
    for (std::uint64_t done = 0; done < c.layout.bodyLength;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), c.layout.bodyLength - done));
        const long long got = ReadAt(c.fd.get(), std::span(buffer).first(want), kHeaderSize + done);
        if (got < 0) return ErrnoError("cannot read the container");
        if (got != static_cast<long long>(want)) return MakeError(ErrorKind::Truncated, "container changed while read");
        const std::span<std::uint8_t> chunk = std::span(buffer).first(want);
        mac.Update(chunk);
        if (keystream) {
            keystream->Apply(chunk, done, c.layout.encryptedLength);
            if (!WriteAll(out, chunk)) return ErrnoError("cannot write the plain file");
        }
        done += want;
    }
    if (!crypto::ConstantTimeEqual(mac.Final(), c.layout.header.tag))
        return MakeError(ErrorKind::WrongPassword, kMacMismatch);
    return {};
}

std::string OrEmpty(const Result<std::string>& result)
{
    return result.ok() ? result.value() : std::string();
}

}  // namespace

Result<std::string> EncryptToContainer(const std::string& path, const std::string& password, const FileOptions& options)
{
    const std::string name = FileNameOf(path);
    if (name.empty()) return MakeError(ErrorKind::Io, "no file name in '" + path + "'");
    if (name.front() == '$') return path;
    if (options.EncryptionAlg < 0 || options.EncryptionAlg > 3)
        return MakeError(ErrorKind::Unsupported, "unknown cipher " + std::to_string(options.EncryptionAlg));
    const std::string containerPath = FolderOf(path) + "$" + name;

    const UniqueFd in = OpenFile(path, O_RDONLY);
    if (!in) return ErrnoError("cannot open " + path);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) return ErrnoError("cannot examine " + path);
    if (!S_ISREG(st.st_mode)) return MakeError(ErrorKind::Unsupported, path + " is not a regular file");
    const std::uint64_t plainLength = static_cast<std::uint64_t>(st.st_size);
    // A container needs at least one body byte to be readable; sealing an empty file would make
    // one that nothing can open, and the plain file would then be deleted.
    if (plainLength == 0) return MakeError(ErrorKind::Unsupported, path + " is empty");

    const std::string passwordText = BuildPasswordText(path, password, options.FileNamePW);
    Result<ContainerHeader> made =
        NewContainerHeader({options.EncryptionAlg, options.Fast, options.MaxBytes}, plainLength, passwordText, path);
    if (!made) return made.error();
    ContainerHeader& header = made.value();
    const ContainerKeys keys = DeriveContainerKeys(header, passwordText);
    Result<ContainerKeystream> keystream = ContainerKeystream::Make(header.alg, keys.cipherKey(), header.nonce);
    if (!keystream) return keystream.error();
    const std::uint64_t encrypted = header.encBytes != 0 ? header.encBytes : plainLength;

    Result<TempFile> temp = TempFile::CreateFor(containerPath, st.st_mode & 0777);
    if (!temp) return temp.error();
    const int out = temp.value().fd();
    if (!WriteAll(out, SerializeContainerHeader(header))) return ErrnoError("cannot write " + containerPath);

    ContainerMac mac(keys.macKey.span(), header);
    std::vector<std::uint8_t> buffer(kIoBufferSize);
    // The body is what the file holds now; one that shrank meanwhile ends early, one that grew
    // is cut at the length the header was made for.
    for (std::uint64_t done = 0; done < plainLength;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), plainLength - done));
        const long long got = ReadAt(in.get(), std::span(buffer).first(want), done);
        if (got < 0) return ErrnoError("cannot read " + path);
        if (got == 0) break;
        const std::span<std::uint8_t> chunk = std::span(buffer).first(static_cast<std::size_t>(got));
        keystream.value().Apply(chunk, done, encrypted);
        if (!WriteAll(out, chunk)) return ErrnoError("cannot write " + containerPath);
        mac.Update(chunk);
        done += chunk.size();
    }
    crypto::SecureWipe(buffer.data(), buffer.size());

    header.tag = mac.Final();
    if (!WriteAt(out, SerializeContainerHeader(header), 0)) return ErrnoError("cannot write " + containerPath);
    if (!WriteAll(out, MarkerBytes(header.alg))) return ErrnoError("cannot write " + containerPath);
    Result<void> committed = temp.value().CommitAs(containerPath);
    if (!committed) return committed.error();
    return containerPath;
}

Result<std::string> DecryptToPlainFile(const std::string& path, const std::string& password, bool fileNamePW)
{
    const std::string name = FileNameOf(path);
    if (name.empty()) return MakeError(ErrorKind::Io, "no file name in '" + path + "'");
    if (name.front() != '$') return path;
    const std::string plainPath = FolderOf(path) + name.substr(1);

    Result<OpenedContainer> opened = OpenAndValidate(path);
    if (!opened) return opened.error();
    const OpenedContainer& c = opened.value();
    const ContainerKeys keys = DeriveContainerKeys(c.layout.header, BuildPasswordText(path, password, fileNamePW));

    // A first pass authenticates, so a wrong password never puts a plain byte on disk.
    std::vector<std::uint8_t> buffer(kIoBufferSize);
    Result<void> verified = ProcessBody(c, keys, nullptr, -1, buffer);
    if (!verified) return verified.error();

    Result<ContainerKeystream> keystream =
        ContainerKeystream::Make(c.layout.header.alg, keys.cipherKey(), c.layout.header.nonce);
    if (!keystream) return keystream.error();
    Result<TempFile> temp = TempFile::CreateFor(plainPath, c.mode);
    if (!temp) return temp.error();
    // The second pass checks the MAC again, in case the container changed in between.
    Result<void> written = ProcessBody(c, keys, &keystream.value(), temp.value().fd(), buffer);
    crypto::SecureWipe(buffer.data(), buffer.size());
    if (!written) return written.error();
    Result<void> committed = temp.value().CommitAs(plainPath);
    if (!committed) return committed.error();
    return plainPath;
}

Result<void> VerifyContainerFile(const std::string& path, const std::string& password, bool fileNamePW)
{
    Result<OpenedContainer> opened = OpenAndValidate(path);
    if (!opened) return opened.error();
    const OpenedContainer& c = opened.value();
    const ContainerKeys keys = DeriveContainerKeys(c.layout.header, BuildPasswordText(path, password, fileNamePW));
    std::vector<std::uint8_t> buffer(kIoBufferSize);
    return ProcessBody(c, keys, nullptr, -1, buffer);
}

Result<std::vector<std::uint8_t>> DecryptContainerFile(const std::string& path, const std::string& password,
                                                       bool fileNamePW)
{
    if (FileNameOf(path).empty()) return MakeError(ErrorKind::Io, "no file name in '" + path + "'");
    Result<OpenedContainer> opened = OpenAndValidate(path);
    if (!opened) return opened.error();
    const OpenedContainer& c = opened.value();

    // The body is read once into private memory: the MAC is checked on exactly the bytes that
    // are then decrypted, whatever happens to the file meanwhile. Each piece is fed to the MAC
    // while it is still in the cache, and the buffer asks for huge pages, because faulting in
    // small fresh pages costs as much as the MAC itself on a large picture.
    const ContainerKeys keys = DeriveContainerKeys(c.layout.header, BuildPasswordText(path, password, fileNamePW));
    ContainerMac mac(keys.macKey.span(), c.layout.header);
    std::vector<std::uint8_t> body;
    body.reserve(static_cast<std::size_t>(c.layout.bodyLength));
    AdviseHugePages(body.data(), body.capacity());
    body.resize(static_cast<std::size_t>(c.layout.bodyLength));
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    for (std::size_t at = 0; at < body.size(); at += kPiece) {
        const std::span<std::uint8_t> piece = std::span(body).subspan(at, std::min(kPiece, body.size() - at));
        const long long got = ReadAt(c.fd.get(), piece, kHeaderSize + at);
        if (got < 0) return ErrnoError("cannot read " + path);
        if (got != static_cast<long long>(piece.size()))
            return MakeError(ErrorKind::Truncated, "container changed while read");
        mac.Update(piece);
    }
    if (!crypto::ConstantTimeEqual(mac.Final(), c.layout.header.tag))
        return MakeError(ErrorKind::WrongPassword, kMacMismatch);
    Result<ContainerKeystream> keystream =
        ContainerKeystream::Make(c.layout.header.alg, keys.cipherKey(), c.layout.header.nonce);
    if (!keystream) return keystream.error();
    keystream.value().Apply(body, 0, c.layout.encryptedLength);
    return body;
}

std::string EncryptFileToContainer(const std::string& path, const std::string& password, const FileOptions& options)
{
    return OrEmpty(EncryptToContainer(path, password, options));
}

std::string DecryptContainerToFile(const std::string& path, const std::string& password, bool fileNamePW)
{
    return OrEmpty(DecryptToPlainFile(path, password, fileNamePW));
}

bool DecryptToStream(const std::string& path, const std::string& password, bool fileNamePW,
                     std::vector<std::uint8_t>& stream)
{
    Result<std::vector<std::uint8_t>> plain = DecryptContainerFile(path, password, fileNamePW);
    if (!plain) {
        stream.clear();
        return false;
    }
    stream = std::move(plain.value());
    return true;
}

}  // namespace quillix::container
