#include "container/file_ops.h"

#include "common/paths.h"
#include "common/temp_file.h"
#include "common/unique_fd.h"
#include "container/container_file.h"
#include "container/key_derivation.h"
#include "container/keystream.h"
#include "container/sealed_container.h"
#include "container/strong_container.h"
#include "container/wipe_report.h"
#include "container/work_files.h"
#include "crypto/ciphers.h"
#include "crypto/random.h"
#include "crypto/secure.h"
#include "crypto/secure_memory.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

namespace quillix::container {
namespace {

// A multiple of the chunk size, so every buffer starts a fresh keystream run; larger than one
// chunk only to save system calls.
constexpr std::size_t kIoBufferSize = 32 * kChunkSize;

// A container of either format, told apart by its header.
struct OpenedContainer {
    UniqueFd fd;
    bool strong = false;
    ContainerLayout layout;     // the compatible format's
    StrongLayout strongLayout;  // the strong format's
    mode_t mode = 0600;
    timespec modified{0, UTIME_OMIT};

    std::uint64_t plainLength() const { return strong ? strongLayout.plainLength : layout.bodyLength; }
};

Result<OpenedContainer> Validate(UniqueFd fd)
{
    OpenedContainer opened;
    opened.fd = std::move(fd);
    opened.strong = IsStrongContainer(opened.fd.get());
    if (opened.strong) {
        Result<StrongLayout> layout = ReadStrongHeader(opened.fd.get());
        if (!layout) return layout.error();
        opened.strongLayout = layout.value();
    } else {
        Result<ContainerLayout> layout = ReadContainerHeader(opened.fd.get());
        if (!layout) return layout.error();
        opened.layout = layout.value();
    }
    struct stat st {};
    if (::fstat(opened.fd.get(), &st) == 0) {
        opened.mode = st.st_mode & 0777;
        opened.modified = st.st_mtim;
    }
    return opened;
}

// Opened without blocking, so a pipe named like a container is refused rather than waited on.
Result<OpenedContainer> OpenAndValidate(const std::string& path)
{
    UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    if (!fd) return ErrnoError("cannot open " + path);
    return Validate(std::move(fd));
}

// Takes the plain bytes of the body, chunk by chunk with their offsets; false stops the pass
// as a failed write.
using PlainSink = std::function<bool(std::span<const std::uint8_t> plain, std::uint64_t offset)>;

// The keys of a container of either format. A strong key is made of the password alone: its
// file name is no part of it.
struct OpenKeys {
    ContainerKeys compatible;
    StrongKey strong;
};

Result<OpenKeys> KeysFor(const OpenedContainer& c, const std::string& path, const std::string& password,
                         bool fileNamePW)
{
    OpenKeys keys;
    if (c.strong) {
        Result<StrongKey> key = StrongKeyOf(c.strongLayout.header, password);
        if (!key) return key.error();
        keys.strong = key.value();
    } else {
        keys.compatible = DeriveContainerKeys(c.layout.header,
                                              crypto::SecretText{BuildPasswordText(path, password, fileNamePW)}.text);
    }
    return keys;
}

// Reads the body of a compatible container chunk by chunk, feeding the MAC; with `keystream` it
// also decrypts each chunk and hands it to `sink`. Fails on a short read, a failed sink or a MAC
// mismatch.
Result<void> ProcessCompatibleBody(const OpenedContainer& c, const ContainerKeys& keys,
                                   const ContainerKeystream* keystream, const PlainSink& sink,
                                   crypto::SecureBytes& buffer)
{
    ContainerMac mac(keys.macKey.span(), c.layout.header);
    for (std::uint64_t done = 0; done < c.layout.bodyLength;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), c.layout.bodyLength - done));
        const long long got = ReadAt(c.fd.get(), std::span(buffer).first(want), kHeaderSize + done);
        if (got < 0) return ErrnoError("cannot read the container");
        if (got != static_cast<long long>(want)) return MakeError(ErrorKind::Changed, "container changed while read");
        const std::span<std::uint8_t> chunk = std::span(buffer).first(want);
        mac.Update(chunk);
        if (keystream) {
            keystream->Apply(chunk, done, c.layout.encryptedLength);
            if (!sink(chunk, done)) return ErrnoError("cannot write the plain file");
        }
        done += want;
    }
    if (!crypto::ConstantTimeEqual(mac.Final(), c.layout.header.tag))
        return MakeError(ErrorKind::WrongPassword, kMacMismatch);
    return {};
}

// Authenticates the body; with a `sink` it also decrypts it and hands the plain bytes over in
// order. A compatible container's bytes reach the sink before its one MAC is checked at the
// end; a strong container's each once its message authenticated.
Result<void> ProcessBody(const OpenedContainer& c, const OpenKeys& keys, const PlainSink& sink,
                         crypto::SecureBytes& buffer)
{
    if (c.strong) return ReadStrongBody(c.fd.get(), c.strongLayout, keys.strong, sink);
    if (!sink) return ProcessCompatibleBody(c, keys.compatible, nullptr, nullptr, buffer);
    Result<ContainerKeystream> keystream =
        ContainerKeystream::Make(c.layout.header.alg, keys.compatible.cipherKey(), c.layout.header.nonce);
    if (!keystream) return keystream.error();
    return ProcessCompatibleBody(c, keys.compatible, &keystream.value(), sink, buffer);
}

// Decrypts the container and compares it with the file open as `plainFd`: true when the MAC
// holds and the two agree byte for byte, false when the MAC holds and they differ.
Result<bool> HoldsSameBytes(const OpenedContainer& c, const OpenKeys& keys, int plainFd, crypto::SecureBytes& buffer)
{
    struct stat st {};
    if (::fstat(plainFd, &st) != 0) return ErrnoError("cannot examine the plain file");
    bool same = static_cast<std::uint64_t>(st.st_size) == c.plainLength();
    crypto::SecureBytes other;
    const Result<void> checked = ProcessBody(
        c, keys,
        [&](std::span<const std::uint8_t> plain, std::uint64_t offset) {
            if (other.size() < plain.size()) {
                crypto::SecureWipe(other.data(), other.size());
                other.assign(plain.size(), 0);
            }
            if (!same) return true;
            const std::span<std::uint8_t> theirs = std::span(other).first(plain.size());
            same = ReadAt(plainFd, theirs, offset) == static_cast<long long>(plain.size()) &&
                   std::equal(plain.begin(), plain.end(), theirs.begin());
            return true;
        },
        buffer);
    crypto::SecureWipe(buffer.data(), buffer.size());
    if (!checked) return checked.error();
    return same;
}

// The file an in-place operation works on, open for reading. Only a regular file is opened: a
// link is not followed (the file it leads to would keep its bytes when the name goes), and a
// pipe or device is never opened, so nothing blocks on it.
Result<UniqueFd> OpenSource(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return ErrnoError("cannot open " + path);
    if (S_ISDIR(st.st_mode)) return MakeError(ErrorKind::Unsupported, path + " is a folder");
    if (S_ISLNK(st.st_mode)) return MakeError(ErrorKind::Unsupported, path + " is a symbolic link, not a picture");
    if (!S_ISREG(st.st_mode)) return MakeError(ErrorKind::Unsupported, path + " is not a regular file");
    UniqueFd fd = OpenFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (!fd) return ErrnoError("cannot open " + path);
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return MakeError(ErrorKind::Unsupported, path + " is not a regular file");
    return fd;
}

// Waits for the lock on the source. False when another operation has finished with the file
// meanwhile, so that the path no longer names it: nothing is left to do.
Result<bool> LockSource(const std::string& path, int fd)
{
    if (!LockFile(fd)) return ErrnoError("cannot lock " + path);
    return NamesOpenFile(path, fd);
}

// Only the first 200 bytes of the password text make the key; a text that is longer would let
// every password that agrees in those bytes open the container.
Result<void> CheckPasswordFits(const std::string& name, const std::string& password, bool fileNamePW)
{
    const std::size_t length = fileNamePW ? name.size() + 1 + password.size() : password.size();
    if (length <= kMaxDerivedPasswordBytes) return {};
    if (fileNamePW && password.size() < kMaxDerivedPasswordBytes)
        return MakeError(ErrorKind::Unsupported,
                         "the name is too long to encrypt with \"Password+FileName\": only the first 200 bytes of "
                         "the file name and the password together make the key, so part of the password would not "
                         "count. Give the file a shorter name, or turn \"Password+FileName\" off.");
    return MakeError(ErrorKind::Unsupported,
                     "the password is too long: only the first 200 bytes of it make the key, so the rest would "
                     "not count. Use a shorter password.");
}

// What an operation says when another program took to its source before it was done. `kept`:
// where the source is now; `undone`: what became of the result.
Error TakenMeanwhile(const std::string& source, const SourceLease& lease, const std::string& kept,
                     const std::string& undone)
{
    const std::string how =
        lease.Leased() ? " was opened for writing by another program" : " was changed by another program";
    const std::string where = kept.empty() || kept == source
                                  ? "it was kept as it is"
                                  : "it was kept as " + FileNameOf(kept) + ", since its name was taken meanwhile";
    return MakeError(ErrorKind::Io, source + how + " while it was worked on; " + where + undone);
}

StopRequested StopOf(const FileOptions& options)
{
    if (!options.stop.stop_possible()) return {};
    return [stop = options.stop] { return stop.stop_requested(); };
}

// A result carries the date of what it was made from, so that sorting by date keeps its place.
void KeepDate(int fd, const timespec& modified)
{
    const timespec times[2] = {{0, UTIME_OMIT}, modified};
    (void)::futimens(fd, times);
}

Error AlreadyExists(const std::string& existing, const std::string& source)
{
    return MakeError(ErrorKind::Exists, existing +
                                            " already exists and holds something else; it was left as it is, "
                                            "and so was " +
                                            FileNameOf(source));
}

// Makes sure a result left by an earlier run is on the disk before its source goes.
Result<void> Flush(int fd, const std::string& path)
{
    if (::fsync(fd) != 0 || !SyncFolderOf(path)) return ErrnoError("cannot flush " + path);
    return {};
}

// Writes the container of the file open as `in` (as `lease` took it) to a temporary file and
// gives it the name `containerPath` without replacing anything; the container stays locked for
// as long as the result lives.
// The body of a strong container: the password as typed makes its key, with no name in it.
Result<void> WriteStrongBody(int in, const SourceLease& lease, const std::string& path,
                             const std::string& containerPath, const std::string& password, int out)
{
    Result<StrongHeader> header = NewStrongHeader(password);
    if (!header) return header.error();
    Result<StrongKey> key = StrongKeyOf(header.value(), password);
    if (!key) return key.error();
    return WriteStrongContainer(
        in, static_cast<std::uint64_t>(lease.Taken().st_size), out, header.value(), key.value(),
        [&]() -> Result<void> {
            if (!lease.Intact(LeaseCheck::Reading)) return TakenMeanwhile(path, lease, path, "");
            return {};
        },
        path, containerPath);
}

Result<WorkFile> WriteContainer(int in, const SourceLease& lease, const std::string& path,
                                const std::string& containerPath, const std::string& password,
                                const std::string& passwordText, const FileOptions& options)
{
    const std::uint64_t plainLength = static_cast<std::uint64_t>(lease.Taken().st_size);
    if (options.EncryptionAlg == crypto::CipherStrong) {
        Result<WorkFile> temp = WorkFile::Create(FolderOf(containerPath), 0);
        if (!temp) return temp.error();
        Result<void> written = WriteStrongBody(in, lease, path, containerPath, password, temp.value().fd());
        if (!written) return written.error();
        KeepDate(temp.value().fd(), lease.Taken().st_mtim);
        if (!lease.Intact(LeaseCheck::ResultWritten)) return TakenMeanwhile(path, lease, path, "");
        Result<void> named = temp.value().CommitAs(containerPath, lease.Taken().st_mode & 0777);
        if (!named) return named.error();
        return temp;
    }
    Result<ContainerHeader> made =
        NewContainerHeader({options.EncryptionAlg, options.Fast, options.MaxKiB}, plainLength, passwordText, path);
    if (!made) return made.error();
    ContainerHeader& header = made.value();
    const ContainerKeys keys = DeriveContainerKeys(header, passwordText);
    Result<ContainerKeystream> keystream = ContainerKeystream::Make(header.alg, keys.cipherKey(), header.nonce);
    if (!keystream) return keystream.error();
    const std::uint64_t encrypted = header.encBytes != 0 ? header.encBytes : plainLength;

    Result<WorkFile> temp = WorkFile::Create(FolderOf(containerPath), 0);
    if (!temp) return temp.error();
    const int out = temp.value().fd();
    if (!WriteAll(out, SerializeContainerHeader(header))) return ErrnoError("cannot write " + containerPath);

    ContainerMac mac(keys.macKey.span(), header);
    crypto::SecureBytes buffer(kIoBufferSize);
    // The body is what the file holds now; one that shrank meanwhile ends early, one that grew
    // is cut at the length the header was made for.
    for (std::uint64_t done = 0; done < plainLength;) {
        if (!lease.Intact(LeaseCheck::Reading)) return TakenMeanwhile(path, lease, path, "");
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), plainLength - done));
        const long long got = ReadAt(in, std::span(buffer).first(want), done);
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
    KeepDate(out, lease.Taken().st_mtim);
    if (!lease.Intact(LeaseCheck::ResultWritten)) return TakenMeanwhile(path, lease, path, "");
    Result<void> named = temp.value().CommitAs(containerPath, lease.Taken().st_mode & 0777);
    if (!named) return named.error();
    return temp;
}

// Files that keep changing under an operation are someone else's business; after this many
// looks it gives up.
constexpr int kAttempts = 5;

Error ChangedMeanwhile(const std::string& path)
{
    return MakeError(ErrorKind::Io, path + " keeps changing while it is worked on; try again");
}

// Opens an existing regular file and waits for its lock. ErrorKind::Changed when it went or
// was replaced meanwhile, so the caller looks again.
Result<UniqueFd> OpenAndLock(const std::string& path)
{
    UniqueFd fd = OpenFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    struct stat st {};
    if (!fd && errno == ENOENT) return MakeError(ErrorKind::Changed, path + " went meanwhile");
    if (!fd) return ErrnoError("cannot open " + path);
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return MakeError(ErrorKind::Unsupported, path + " is not a regular file");
    if (!LockFile(fd.get())) return ErrnoError("cannot lock " + path);
    if (!NamesOpenFile(path, fd.get())) return MakeError(ErrorKind::Changed, path + " changed meanwhile");
    return fd;
}

// Decrypts the container at `path` into a temporary file and gives it the name `plainPath`
// without replacing anything; the plain file stays locked for as long as the result lives.
Result<WorkFile> DecryptToNewFile(const OpenedContainer& c, const SourceLease& lease, const std::string& path,
                                  const OpenKeys& keys, const std::string& plainPath, const FileOptions& options,
                                  crypto::SecureBytes& buffer)
{
    // A first pass authenticates, so a wrong password never puts a plain byte on disk. A strong
    // container's messages authenticate one by one as they are read: a wrong password fails on
    // the first, and a damaged one leaves only authenticated bytes in the temporary file, which
    // is overwritten and removed without ever having had the plain name.
    if (!c.strong) {
        Result<void> verified = ProcessBody(c, keys, nullptr, buffer);
        if (!verified) return verified.error();
    }
    // Plain bytes that do not make it to their name are overwritten before they go, as the
    // container would be.
    Result<WorkFile> temp = WorkFile::Create(FolderOf(plainPath), options.Passes);
    if (!temp) return temp.error();
    const int out = temp.value().fd();
    // The second pass checks the MAC again, in case the container changed in between.
    bool taken = false;
    Result<void> written = ProcessBody(
        c, keys,
        [out, &lease, &taken](std::span<const std::uint8_t> plain, std::uint64_t) {
            taken = !lease.Intact(LeaseCheck::Reading);
            return !taken && WriteAll(out, plain);
        },
        buffer);
    crypto::SecureWipe(buffer.data(), buffer.size());
    if (taken) return TakenMeanwhile(path, lease, path, "");
    if (!written) return written.error();
    KeepDate(out, c.modified);
    if (!lease.Intact(LeaseCheck::ResultWritten)) return TakenMeanwhile(path, lease, path, "");
    Result<void> named = temp.value().CommitAs(plainPath, c.mode);
    if (!named) return named.error();
    return temp;
}

// Takes back the container an encryption made when another program took to its source.
std::string RemoveNewContainer(const std::string& containerPath, const std::optional<WorkFile>& made)
{
    if (!made) return {};  // an earlier run's container stays as it was
    if (NamesOpenFile(containerPath, made->fd()) && ::unlink(containerPath.c_str()) != 0)
        return "; its new container " + containerPath + " could not be removed (" + std::strerror(errno) + ")";
    return ", and its new container was removed";
}

// Takes back the plain file a decryption made: it is wiped, since the container stays.
std::string RemoveDecrypted(const std::string& plainPath, const std::optional<WorkFile>& made,
                            const FileOptions& options)
{
    if (!made || !NamesOpenFile(plainPath, made->fd())) return {};
    const WipeOutcome wiped = WipeLockedFile(plainPath, made->fd(), options.Passes);
    if (wiped.removed) return ", and the decrypted copy was removed";
    return "; the decrypted copy could not be removed and is still at " +
           (wiped.keptAs.empty() ? plainPath : wiped.keptAs);
}

Result<InPlaceResult> Encrypt(const std::string& path, const std::string& password, const FileOptions& options,
                              bool removeSource)
{
    const std::string name = FileNameOf(path);
    if (name.empty()) return MakeError(ErrorKind::Io, "no file name in '" + path + "'");
    const StopRequested stop = StopOf(options);
    if (removeSource) FinishLeftovers(FolderOf(path), options.Passes, stop);
    Result<UniqueFd> opened = OpenSource(path);
    if (!opened) return opened.error();
    const int in = opened.value().get();
    InPlaceResult result{path, false, {}};
    if (name.front() == '$' || IsStrongContainer(in) || ReadTrailerMarker(in) != 0) return result;
    const bool strong = options.EncryptionAlg == crypto::CipherStrong;
    if (options.EncryptionAlg < 0 || options.EncryptionAlg > crypto::CipherStrong)
        return MakeError(ErrorKind::Unsupported, "unknown cipher " + std::to_string(options.EncryptionAlg));
    Result<bool> locked = LockSource(path, in);
    if (!locked) return locked.error();
    if (!locked.value()) return result;
    Result<SourceLease> leased = SourceLease::Take(in, path, options.onLeaseCheck);
    if (!leased) return leased.error();
    SourceLease& lease = leased.value();

    // The strong format has none of the compatible format's limits: no 2 GiB, no 200-byte cut
    // of the password, and an empty file has a container too.
    const std::uint64_t plainLength = static_cast<std::uint64_t>(lease.Taken().st_size);
    if (!strong) {
        // A container needs at least one body byte to be readable; sealing an empty file would
        // make one that nothing can open, and the plain file would then be deleted.
        if (plainLength == 0) return MakeError(ErrorKind::Unsupported, path + " is empty");
        if (plainLength > MaxPlainLength(options.EncryptionAlg))
            return MakeError(ErrorKind::Unsupported, path + " is too large: its container would reach 2 GiB, "
                                                            "which no reader accepts");
        Result<void> fits = CheckPasswordFits(name, password, options.FileNamePW);
        if (!fits) return fits.error();
    }

    const std::string containerPath = FolderOf(path) + "$" + name;
    const crypto::SecretText heldText{BuildPasswordText(path, password, options.FileNamePW)};
    const std::string& passwordText = heldText.text;
    // An existing container stays locked until the plain file is gone, so that a decryption
    // cannot take the two for an interrupted run of its own meanwhile.
    UniqueFd existingContainer;
    std::optional<WorkFile> made;
    for (int attempt = 0;; ++attempt) {
        if (attempt == kAttempts) return ChangedMeanwhile(containerPath);
        struct stat existing {};
        if (::lstat(containerPath.c_str(), &existing) != 0) {
            if (errno != ENOENT) return ErrnoError("cannot examine " + containerPath);
            Result<WorkFile> written = WriteContainer(in, lease, path, containerPath, password, passwordText, options);
            if (!written && written.error().kind == ErrorKind::Exists) continue;  // made meanwhile: look at it
            if (!written) return written.error();
            made.emplace(std::move(written.value()));
            break;
        }
        // Only the container of an interrupted run of this very file may stand in for a new one.
        if (!S_ISREG(existing.st_mode)) return AlreadyExists(containerPath, path);
        Result<UniqueFd> other = OpenAndLock(containerPath);
        if (!other && other.error().kind == ErrorKind::Changed) continue;  // gone or replaced meanwhile
        if (!other) return AlreadyExists(containerPath, path);
        Result<OpenedContainer> c = Validate(std::move(other.value()));
        if (!c) return AlreadyExists(containerPath, path);
        Result<OpenKeys> keys = KeysFor(c.value(), path, password, options.FileNamePW);
        if (!keys) return keys.error();
        crypto::SecureBytes buffer(kIoBufferSize);
        const Result<bool> same = HoldsSameBytes(c.value(), keys.value(), in, buffer);
        if (!same || !same.value()) return AlreadyExists(containerPath, path);
        Result<void> flushed = Flush(c.value().fd.get(), containerPath);
        if (!flushed) return flushed.error();
        existingContainer = std::move(c.value().fd);
        result.finishedEarlierRun = true;
        break;
    }
    result.path = containerPath;
    if (!lease.Intact(LeaseCheck::ResultNamed))
        return TakenMeanwhile(path, lease, path, RemoveNewContainer(containerPath, made));
    if (removeSource) {
        result.wipe = WipeLockedFile(path, in, options.Passes, {stop, &lease});
        if (result.wipe.changed)
            return TakenMeanwhile(path, lease, result.wipe.keptAs, RemoveNewContainer(containerPath, made));
    }
    return result;
}

Result<InPlaceResult> Decrypt(const std::string& path, const std::string& password, const FileOptions& options,
                              bool removeSource)
{
    const std::string name = FileNameOf(path);
    if (name.empty()) return MakeError(ErrorKind::Io, "no file name in '" + path + "'");
    const StopRequested stop = StopOf(options);
    if (removeSource) FinishLeftovers(FolderOf(path), options.Passes, stop);
    Result<UniqueFd> source = OpenSource(path);
    if (!source) return source.error();
    InPlaceResult result{path, false, {}};
    if (name.front() != '$') {
        // Without its "$" there is no plain name to decrypt it to.
        if (IsStrongContainer(source.value().get()))
            return MakeError(ErrorKind::Unsupported, path +
                                                         " is encrypted, but its name does not begin with \"$\", "
                                                         "so it has no plain name to be decrypted to. Give it the "
                                                         "name \"$" +
                                                         name + "\" first.");
        return result;
    }
    if (name.size() == 1) return MakeError(ErrorKind::Io, "no plain name for '" + path + "'");
    Result<bool> locked = LockSource(path, source.value().get());
    if (!locked) return locked.error();
    if (!locked.value()) return result;
    Result<SourceLease> leased = SourceLease::Take(source.value().get(), path, options.onLeaseCheck);
    if (!leased) return leased.error();
    SourceLease& lease = leased.value();

    Result<OpenedContainer> opened = Validate(std::move(source.value()));
    if (!opened) return opened.error();
    const OpenedContainer& c = opened.value();
    Result<OpenKeys> derived = KeysFor(c, path, password, options.FileNamePW);
    if (!derived) return derived.error();
    const OpenKeys& keys = derived.value();
    const std::string plainPath = FolderOf(path) + name.substr(1);
    crypto::SecureBytes buffer(kIoBufferSize);

    // An existing plain file stays locked until the container is gone, so that an encryption
    // cannot take the two for an interrupted run of its own meanwhile.
    UniqueFd existingPlain;
    std::optional<WorkFile> made;
    for (int attempt = 0;; ++attempt) {
        if (attempt == kAttempts) return ChangedMeanwhile(plainPath);
        struct stat existing {};
        if (::lstat(plainPath.c_str(), &existing) != 0) {
            if (errno != ENOENT) return ErrnoError("cannot examine " + plainPath);
            Result<WorkFile> written = DecryptToNewFile(c, lease, path, keys, plainPath, options, buffer);
            if (!written && written.error().kind == ErrorKind::Exists) continue;  // made meanwhile: look at it
            if (!written) return written.error();
            made.emplace(std::move(written.value()));
            break;
        }
        // Only a plain file left complete by an interrupted run of this very container may
        // stand in for the decrypted one.
        if (!S_ISREG(existing.st_mode)) return AlreadyExists(plainPath, path);
        // Locks are taken in one order, the plain file's first, as an encryption takes them:
        // the container's is let go while the plain file's is waited for.
        ::flock(c.fd.get(), LOCK_UN);
        Result<UniqueFd> plain = OpenAndLock(plainPath);
        if (!LockFile(c.fd.get())) return ErrnoError("cannot lock " + path);
        if (!NamesOpenFile(path, c.fd.get())) return result;  // another run finished with the container
        if (!plain && plain.error().kind == ErrorKind::Changed) continue;
        if (!plain) return AlreadyExists(plainPath, path);
        const Result<bool> same = HoldsSameBytes(c, keys, plain.value().get(), buffer);
        if (!same) return same.error();
        if (!same.value()) return AlreadyExists(plainPath, path);
        Result<void> flushed = Flush(plain.value().get(), plainPath);
        if (!flushed) return flushed.error();
        existingPlain = std::move(plain.value());
        result.finishedEarlierRun = true;
        break;
    }
    result.path = plainPath;
    if (!lease.Intact(LeaseCheck::ResultNamed))
        return TakenMeanwhile(path, lease, path, RemoveDecrypted(plainPath, made, options));
    if (removeSource) {
        result.wipe = WipeLockedFile(path, c.fd.get(), options.Passes, {stop, &lease});
        if (result.wipe.changed)
            return TakenMeanwhile(path, lease, result.wipe.keptAs, RemoveDecrypted(plainPath, made, options));
    }
    return result;
}

}  // namespace

Result<InPlaceResult> EncryptInPlace(const std::string& path, const std::string& password, const FileOptions& options)
{
    return Encrypt(path, password, options, true);
}

Result<InPlaceResult> DecryptInPlace(const std::string& path, const std::string& password, const FileOptions& options)
{
    return Decrypt(path, password, options, true);
}

Result<std::string> EncryptToContainer(const std::string& path, const std::string& password, const FileOptions& options)
{
    Result<InPlaceResult> result = Encrypt(path, password, options, false);
    if (!result) return result.error();
    return result.value().path;
}

Result<std::string> DecryptToPlainFile(const std::string& path, const std::string& password, bool fileNamePW)
{
    FileOptions options;
    options.FileNamePW = fileNamePW;
    Result<InPlaceResult> result = Decrypt(path, password, options, false);
    if (!result) return result.error();
    return result.value().path;
}

std::string SourceWarning(const std::string& source, const InPlaceResult& result, bool encrypted)
{
    if (result.path == source) return {};
    return WipeWarning(source, result.wipe, encrypted ? "the plain picture" : "the encrypted picture");
}

Result<void> VerifyContainerFile(const std::string& path, const std::string& password, bool fileNamePW)
{
    Result<OpenedContainer> opened = OpenAndValidate(path);
    if (!opened) return opened.error();
    const OpenedContainer& c = opened.value();
    Result<OpenKeys> keys = KeysFor(c, path, password, fileNamePW);
    if (!keys) return keys.error();
    crypto::SecureBytes buffer(kIoBufferSize);
    return ProcessBody(c, keys.value(), nullptr, buffer);
}

Result<crypto::SecureBytes> DecryptContainerFile(const std::string& path, const std::string& password, bool fileNamePW)
{
    if (FileNameOf(path).empty()) return MakeError(ErrorKind::Io, "no file name in '" + path + "'");
    Result<OpenedContainer> opened = OpenAndValidate(path);
    if (!opened) return opened.error();
    const OpenedContainer& c = opened.value();
    if (c.strong) {
        Result<OpenKeys> keys = KeysFor(c, path, password, fileNamePW);
        if (!keys) return keys.error();
        // Decrypted in place of the result: no second copy of the picture to make and wipe.
        crypto::SecureBytes plain(static_cast<std::size_t>(c.plainLength()));
        Result<void> read = ReadStrongBodyInto(c.fd.get(), c.strongLayout, keys.value().strong, plain);
        if (!read) return read.error();  // the buffer is wiped as it is freed
        return plain;
    }

    // The body is read once into private memory: the MAC is checked on exactly the bytes that
    // are then decrypted, whatever happens to the file meanwhile. Each piece is fed to the MAC
    // while it is still in the cache. The memory is guarded, as the bytes are decrypted in place.
    const ContainerKeys keys =
        DeriveContainerKeys(c.layout.header, crypto::SecretText{BuildPasswordText(path, password, fileNamePW)}.text);
    ContainerMac mac(keys.macKey.span(), c.layout.header);
    crypto::SecureBytes body(static_cast<std::size_t>(c.layout.bodyLength));
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    for (std::size_t at = 0; at < body.size(); at += kPiece) {
        const std::span<std::uint8_t> piece = std::span(body).subspan(at, std::min(kPiece, body.size() - at));
        const long long got = ReadAt(c.fd.get(), piece, kHeaderSize + at);
        if (got < 0) return ErrnoError("cannot read " + path);
        if (got != static_cast<long long>(piece.size()))
            return MakeError(ErrorKind::Changed, "container changed while read");
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

Result<void> DecryptContainerTo(const std::string& path, const std::string& password, bool fileNamePW,
                                const PlainPieces& sink)
{
    if (FileNameOf(path).empty()) return MakeError(ErrorKind::Io, "no file name in '" + path + "'");
    Result<OpenedContainer> opened = OpenAndValidate(path);
    if (!opened) return opened.error();
    if (opened.value().strong) {
        Result<OpenKeys> keys = KeysFor(opened.value(), path, password, fileNamePW);
        if (!keys) return keys.error();
        crypto::SecureBytes unused;
        return ProcessBody(
            opened.value(), keys.value(),
            [&sink](std::span<const std::uint8_t> piece, std::uint64_t) { return sink(piece); }, unused);
    }
    Result<crypto::SecureBytes> plain = DecryptContainerFile(path, password, fileNamePW);
    if (!plain) return plain.error();
    crypto::SecureBytes& bytes = plain.value();
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const std::span<const std::uint8_t> piece = std::span(bytes).subspan(at, std::min(kPiece, bytes.size() - at));
        if (!sink(piece)) return ErrnoError("cannot write the plain bytes");
        crypto::SecureWipe(bytes.data() + at, piece.size());
    }
    return {};
}

bool DecryptToStream(const std::string& path, const std::string& password, bool fileNamePW, crypto::SecureBytes& stream)
{
    Result<crypto::SecureBytes> plain = DecryptContainerFile(path, password, fileNamePW);
    if (!plain) {
        crypto::SecureWipe(stream.data(), stream.size());
        stream.clear();
        return false;
    }
    crypto::SecureWipe(stream.data(), stream.size());
    stream = std::move(plain.value());
    return true;
}

}  // namespace quillix::container
