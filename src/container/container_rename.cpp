#include "container/container_rename.h"

#include "common/paths.h"
#include "common/temp_file.h"
#include "common/unique_fd.h"
#include "container/container_file.h"
#include "container/file_crypto.h"
#include "container/key_derivation.h"
#include "container/keystream.h"
#include "container/sealed_container.h"
#include "container/work_files.h"
#include "crypto/random.h"
#include "crypto/secure.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace quillix::container {
namespace {

// A multiple of the chunk size, so every buffer starts a fresh keystream run.
constexpr std::size_t kBufferSize = 32 * kChunkSize;

constexpr const char* kMayHoldName =
    "it is encrypted, and its key may hold its name, so under a new name it could never be opened again. ";

Error NoPassword()
{
    return MakeError(ErrorKind::WrongPassword, std::string(kMayHoldName) +
                                                   "No password has been typed to check this: " + kTypePasswordFirst +
                                                   ", then try again.");
}

Error NotOpened()
{
    return MakeError(ErrorKind::WrongPassword, std::string(kMayHoldName) +
                                                   "The password typed does not open it (wrong password or damaged "
                                                   "file): " +
                                                   kTypePasswordFirst + ", then try again.");
}

Error Unreadable(const Error& why)
{
    return MakeError(why.kind == ErrorKind::Io ? ErrorKind::BadHeader : why.kind,
                     "it cannot be read as a container (" + why.message +
                         "), so it keeps its name: under a new one it might never be opened again.");
}

// A text that holds the password, wiped when it goes.
struct SecretText {
    std::string text;
    ~SecretText() { crypto::SecureWipe(text); }
};

// The container, open and locked, so that no encryption or decryption works on it meanwhile.
struct LockedSource {
    UniqueFd fd;
    struct stat st {};
};

Result<LockedSource> OpenLocked(const std::string& path)
{
    LockedSource source;
    if (::lstat(path.c_str(), &source.st) != 0) return ErrnoError("cannot open " + path);
    if (S_ISLNK(source.st.st_mode))
        return MakeError(ErrorKind::Unsupported, "it is a symbolic link; give the file it leads to its new name.");
    if (!S_ISREG(source.st.st_mode)) return MakeError(ErrorKind::Unsupported, "it is not a regular file.");
    source.fd = OpenFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (!source.fd) return ErrnoError("cannot open " + path);
    if (!LockFile(source.fd.get())) return ErrnoError("cannot lock " + path);
    if (!NamesOpenFile(path, source.fd.get()) || ::fstat(source.fd.get(), &source.st) != 0 ||
        !S_ISREG(source.st.st_mode))
        return MakeError(ErrorKind::Io, path + " changed meanwhile; try again");
    return source;
}

// Whether the body of the container open as `fd` matches its tag under `keys`.
Result<bool> MacMatches(int fd, const ContainerLayout& layout, const ContainerKeys& keys,
                        std::vector<std::uint8_t>& buffer)
{
    ContainerMac mac(keys.macKey.span(), layout.header);
    for (std::uint64_t done = 0; done < layout.bodyLength;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), layout.bodyLength - done));
        const std::span<std::uint8_t> chunk = std::span(buffer).first(want);
        const long long got = ReadAt(fd, chunk, kHeaderSize + done);
        if (got < 0) return ErrnoError("cannot read the container");
        if (got != static_cast<long long>(want)) return MakeError(ErrorKind::Io, "the container changed while read");
        mac.Update(chunk);
        done += want;
    }
    return crypto::ConstantTimeEqual(mac.Final(), layout.header.tag);
}

// The result carries the date of the picture, so that sorting by date keeps its place.
void KeepDate(int fd, const struct stat& source)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    (void)::futimens(fd, times);
}

// Writes the container of `source` anew for the plain name of `to`, checks that it opens and
// gives it that name without replacing anything.
Result<void> WriteReencrypted(const LockedSource& source, const ContainerLayout& layout, const ContainerKeys& oldKeys,
                              const std::string& to, const std::string& newText, std::vector<std::uint8_t>& buffer)
{
    const ContainerHeader& old = layout.header;
    // The fast mode's salt is made from the plain name, as an encryption makes it.
    Result<ContainerHeader> made = NewContainerHeader({old.alg, old.iters == kFastIterations, 0}, layout.bodyLength,
                                                      newText, FolderOf(to) + PlainNameOf(to));
    if (!made) return made.error();
    ContainerHeader& header = made.value();
    // A new name is no reason to protect the picture more weakly or strongly than before.
    header.iters = old.iters;
    header.encBytes = old.encBytes;
    const ContainerKeys newKeys = DeriveContainerKeys(header, newText);
    Result<ContainerKeystream> oldStream = ContainerKeystream::Make(old.alg, oldKeys.cipherKey(), old.nonce);
    if (!oldStream) return oldStream.error();
    Result<ContainerKeystream> newStream = ContainerKeystream::Make(header.alg, newKeys.cipherKey(), header.nonce);
    if (!newStream) return newStream.error();

    Result<WorkFile> temp = WorkFile::Create(FolderOf(to), 0);
    if (!temp) return temp.error();
    const int out = temp.value().fd();
    if (!WriteAll(out, SerializeContainerHeader(header))) return ErrnoError("cannot write " + to);

    ContainerMac oldMac(oldKeys.macKey.span(), old);
    ContainerMac newMac(newKeys.macKey.span(), header);
    bool written = true;
    for (std::uint64_t done = 0; done < layout.bodyLength && written;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), layout.bodyLength - done));
        const std::span<std::uint8_t> chunk = std::span(buffer).first(want);
        const long long got = ReadAt(source.fd.get(), chunk, kHeaderSize + done);
        if (got != static_cast<long long>(want)) {
            crypto::SecureWipe(buffer.data(), buffer.size());
            return MakeError(ErrorKind::Io, "the container changed while read; try again");
        }
        oldMac.Update(chunk);
        oldStream.value().Apply(chunk, done, layout.encryptedLength);
        newStream.value().Apply(chunk, done, layout.encryptedLength);
        newMac.Update(chunk);
        written = WriteAll(out, chunk);
        done += want;
    }
    crypto::SecureWipe(buffer.data(), buffer.size());
    if (!written) return ErrnoError("cannot write " + to);
    // The bytes just turned over are the ones the first look authenticated.
    if (!crypto::ConstantTimeEqual(oldMac.Final(), old.tag))
        return MakeError(ErrorKind::Io, "the container changed while read; try again");
    header.tag = newMac.Final();
    if (!WriteAt(out, SerializeContainerHeader(header), 0) || !WriteAll(out, MarkerBytes(header.alg)))
        return ErrnoError("cannot write " + to);
    KeepDate(out, source.st);

    // What was written is read back: only a container known to open gets the name.
    Result<ContainerLayout> check = ReadContainerHeader(out);
    if (!check) return MakeError(ErrorKind::Io, "the new container of " + to + " does not read back");
    const Result<bool> opens = MacMatches(out, check.value(), newKeys, buffer);
    if (!opens) return opens.error();
    if (!opens.value()) return MakeError(ErrorKind::Io, "the new container of " + to + " does not open");
    return temp.value().CommitAs(to, source.st.st_mode & 0777);
}

// Copies the container's bytes as they are, checks that the copy holds them and gives it the
// name `to` without replacing anything.
Result<void> CopyAsItIs(const LockedSource& source, const std::string& to, std::vector<std::uint8_t>& buffer)
{
    Result<WorkFile> temp = WorkFile::Create(FolderOf(to), 0);
    if (!temp) return temp.error();
    const int out = temp.value().fd();
    const std::uint64_t length = static_cast<std::uint64_t>(source.st.st_size);
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
        const std::span<std::uint8_t> chunk = std::span(buffer).first(want);
        if (ReadAt(source.fd.get(), chunk, done) != static_cast<long long>(want))
            return MakeError(ErrorKind::Io, "the container changed while read; try again");
        if (!WriteAll(out, chunk)) return ErrnoError("cannot write " + to);
        done += want;
    }
    KeepDate(out, source.st);

    std::vector<std::uint8_t> theirs(buffer.size());
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
        const std::span<std::uint8_t> mine = std::span(buffer).first(want);
        const std::span<std::uint8_t> copy = std::span(theirs).first(want);
        if (ReadAt(source.fd.get(), mine, done) != static_cast<long long>(want) ||
            ReadAt(out, copy, done) != static_cast<long long>(want) ||
            !std::equal(mine.begin(), mine.end(), copy.begin()))
            return MakeError(ErrorKind::Io, "the copy " + to + " does not hold the container's bytes");
        done += want;
    }
    struct stat written {};
    if (::fstat(out, &written) != 0 || static_cast<std::uint64_t>(written.st_size) != length)
        return MakeError(ErrorKind::Io, "the copy " + to + " does not hold the container's bytes");
    return temp.value().CommitAs(to, source.st.st_mode & 0777);
}

// The last step of a move: the old name goes, unless something else has taken it meanwhile. The
// picture is safe under its new name either way, so a failure is only told.
std::string RemoveSource(const std::string& from, int fd)
{
    if (!NamesOpenFile(from, fd)) return {};
    if (::unlink(from.c_str()) != 0)
        return FileNameOf(from) + " could not be removed (" + std::strerror(errno) +
               "); the picture is now there under both names.";
    (void)SyncFolderOf(from);
    return {};
}

}  // namespace

NameChangeKey::~NameChangeKey()
{
    crypto::SecureWipe(password);
}

NameChangeKey NameChangeKeyOf(const FileCrypto& crypto)
{
    const std::uint64_t generation = crypto.PasswordGeneration();
    return NameChangeKey{crypto.ActivePassword(), crypto.OptionsForNextOperation().FileNamePW,
                         [&crypto, generation] { crypto.ConfirmPassword(generation); }};
}

std::string PlainNameOf(const std::string& path)
{
    std::string name = FileNameOf(path);
    if (!name.empty() && name.front() == '$') name.erase(0, 1);
    return name;
}

std::string KeepContainerMark(const std::string& currentName, const std::string& newName)
{
    if (currentName.starts_with('$') && !newName.starts_with('$')) return "$" + newName;
    return newName;
}

bool IsContainerFile(const std::string& path)
{
    if (!IsEncryptedFile(path)) return false;
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    std::array<std::uint8_t, kMagic.size()> magic{};
    return fd && ReadAt(fd.get(), magic, 0) == static_cast<long long>(magic.size()) &&
           std::equal(magic.begin(), magic.end(), kMagic.begin(),
                      [](std::uint8_t byte, char c) { return byte == static_cast<std::uint8_t>(c); });
}

bool IsRefusedNameChange(const Error& error)
{
    return error.kind == ErrorKind::WrongPassword || error.kind == ErrorKind::BadHeader ||
           error.kind == ErrorKind::Truncated || error.kind == ErrorKind::Unsupported;
}

Result<NameChange> GiveContainerName(const std::string& from, const std::string& to, const NameChangeKey& key,
                                     NameChangeMode mode)
{
    struct stat taken {};
    if (::lstat(to.c_str(), &taken) == 0) return MakeError(ErrorKind::Exists, to + " already exists");
    if (PlainNameOf(to).empty()) return MakeError(ErrorKind::Io, "no plain name in '" + to + "'");
    Result<LockedSource> opened = OpenLocked(from);
    if (!opened) return opened.error();
    const LockedSource& source = opened.value();
    std::vector<std::uint8_t> buffer(kBufferSize);
    NameChange change;

    // A strong container's key holds no name: it opens under any name as it is.
    if (PlainNameOf(from) != PlainNameOf(to) && !IsStrongContainer(source.fd.get())) {
        if (key.password.empty()) return NoPassword();
        Result<ContainerLayout> layout = ReadContainerHeader(source.fd.get());
        if (!layout) return Unreadable(layout.error());
        const SecretText withName{BuildPasswordText(from, key.password, true)};
        const std::string& withoutName = key.password;
        std::optional<bool> nameInKey;
        for (const bool name : {key.fileNamePW, !key.fileNamePW}) {
            const ContainerKeys keys = DeriveContainerKeys(layout.value().header, name ? withName.text : withoutName);
            const Result<bool> opens = MacMatches(source.fd.get(), layout.value(), keys, buffer);
            if (!opens) return opens.error();
            if (!opens.value()) continue;
            nameInKey = name;
            break;
        }
        if (!nameInKey) return NotOpened();
        if (key.opened) key.opened();

        if (*nameInKey) {
            const SecretText newText{BuildPasswordText(to, key.password, true)};
            if (newText.text.size() > kMaxDerivedPasswordBytes)
                return MakeError(ErrorKind::Unsupported,
                                 "the new name is too long: its key holds the name, and only the first 200 bytes of "
                                 "the name and the password together make a key. Choose a shorter name.");
            const ContainerKeys oldKeys = DeriveContainerKeys(layout.value().header, withName.text);
            Result<void> written = WriteReencrypted(source, layout.value(), oldKeys, to, newText.text, buffer);
            if (!written) return written.error();
            change.reencrypted = true;
            if (mode == NameChangeMode::Move) change.warning = RemoveSource(from, source.fd.get());
            return change;
        }
    }

    // The key does not hold the name, or the name it holds stays: the bytes stay as they are.
    if (mode == NameChangeMode::Move) {
        const int error = RenameNoReplace(from, to);
        if (error == 0) return change;
        if (error == EEXIST) return MakeError(ErrorKind::Exists, to + " already exists");
        if (error != EXDEV)
            return MakeError(ErrorKind::Io, "cannot rename " + from + " to " + to + ": " + std::strerror(error));
    }
    Result<void> copied = CopyAsItIs(source, to, buffer);
    if (!copied) return copied.error();
    if (mode == NameChangeMode::Move) change.warning = RemoveSource(from, source.fd.get());
    return change;
}

}  // namespace quillix::container
