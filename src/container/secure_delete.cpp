#include "container/secure_delete.h"

#include "common/paths.h"
#include "common/unique_fd.h"
#include "container/source_lease.h"
#include "container/work_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>
#include <vector>

namespace quillix::container {
namespace {

constexpr std::size_t kBufferSize = 32768;

// The overwrite bytes carry no secret and need no cryptographic quality, only to differ from
// what was there: xorshift64*, eight bytes a step, one generator per thread seeded from the clock.
class OverwriteBytes {
public:
    OverwriteBytes() : state_(static_cast<std::uint64_t>(std::time(nullptr)) * 0x9E3779B97F4A7C15ull | 1) {}

    void Fill(std::span<std::uint8_t> out)
    {
        for (std::size_t at = 0; at < out.size(); at += sizeof(std::uint64_t)) {
            state_ ^= state_ >> 12;
            state_ ^= state_ << 25;
            state_ ^= state_ >> 27;
            const std::uint64_t value = state_ * 0x2545F4914F6CDD1Dull;
            std::memcpy(out.data() + at, &value, std::min(sizeof value, out.size() - at));
        }
    }

private:
    std::uint64_t state_;
};

OverwriteBytes& Generator()
{
    thread_local OverwriteBytes generator;
    return generator;
}

bool IsOutOfSpace(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// Writes `length` pseudo-random bytes from the file's start; the bytes written, and errno in
// `error` when a write failed.
std::uint64_t WritePass(int fd, std::uint64_t length, int& error)
{
    std::array<std::uint8_t, kBufferSize> buffer{};
    OverwriteBytes& generator = Generator();
    std::uint64_t done = 0;
    error = 0;
    while (done < length) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(kBufferSize, length - done));
        generator.Fill(std::span(buffer).first(piece));
        for (std::size_t written = 0; written < piece;) {
            const ssize_t n = ::pwrite(fd, buffer.data() + written, piece - written, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errno : ENOSPC;
                return done;
            }
            written += static_cast<std::size_t>(n);
            done += static_cast<std::uint64_t>(n);
        }
    }
    return done;
}

WipeOutcome NotOverwritten(const std::string& path, int error, int passes)
{
    WipeOutcome outcome;
    outcome.keptAs = path;
    outcome.error = error;
    outcome.passes.passesWanted = passes;
    return outcome;
}

// Gives the file at `wipePath` back the name `path`, or, when that was taken meanwhile, a free
// name next to it ("photo (2).jpg"): under its wipe name a later FinishLeftovers would wipe it.
// Where it is now.
std::string RestoreName(const std::string& wipePath, const std::string& path)
{
    int error = RenameNoReplace(wipePath, path);
    if (error == 0) return path;
    const std::string name = FileNameOf(path);
    const std::size_t dot = name.find_last_of('.');
    const std::size_t stemLength = dot == std::string::npos || dot == 0 ? name.size() : dot;
    for (int n = 2; error == EEXIST && n < 100; ++n) {
        const std::string candidate =
            FolderOf(path) + name.substr(0, stemLength) + " (" + std::to_string(n) + ")" + name.substr(stemLength);
        error = RenameNoReplace(wipePath, candidate);
        if (error == 0) return candidate;
    }
    return wipePath;
}

}  // namespace

int ClampPasses(int passes)
{
    return passes < 0 ? kDefaultPasses : std::min(passes, kMaxPasses);
}

OverwriteReport OverwriteOpenFile(int fd, std::uint64_t fileLength, int passes, const StopRequested& stop)
{
    passes = ClampPasses(passes);
    OverwriteReport report;
    report.passesWanted = passes;
    report.fileLength = fileLength;
    const std::uint64_t length = std::max(kMinOverwriteLength, fileLength);
    for (int pass = 0; pass < passes; ++pass) {
        if (stop && stop()) {
            report.stopped = true;
            return report;
        }
        int error = 0;
        const std::uint64_t written = WritePass(fd, length, error);
        if (error != 0) {
            if (!IsOutOfSpace(error) || written < fileLength) {
                report.failedAt = written;
                report.error = error;
                return report;
            }
            // Every byte the file held is covered; what lies past it only gives the old blocks
            // of a small file a pass. Handing that part back makes room for the flush.
            report.cutShort = true;
            // Best effort: when no room comes back, the flush below fails and says so.
            [[maybe_unused]] const int handedBack = ::ftruncate(fd, static_cast<off_t>(fileLength));
        }
        // Without a flush the page cache would fold all passes into the last one. Only the data
        // matters here: a full fsync would also commit the file's new times to the journal, which
        // runs of several files at once would queue behind each other for.
        if (::fdatasync(fd) != 0) {
            report.failedAt = written;
            report.error = errno;
            return report;
        }
        ++report.passesDone;
    }
    return report;
}

WipeOutcome WipeLockedFile(const std::string& path, int fd, int passes, const WipeControl& control)
{
    passes = ClampPasses(passes);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return NotOverwritten(path, errno, passes);
    WipeOutcome outcome;
    if (st.st_nlink == 0) {  // removed by someone else meanwhile
        outcome.removed = true;
        return outcome;
    }
    if (!NamesOpenFile(path, fd)) return NotOverwritten({}, ENOENT, passes);
    outcome.passes.passesWanted = passes;
    outcome.passes.fileLength = static_cast<std::uint64_t>(st.st_size);
    // Overwriting a file with other links would destroy what those names hold.
    outcome.otherLinks = st.st_nlink > 1;
    const bool overwrite = !outcome.otherLinks && passes > 0;

    if (control.lease && !control.lease->Intact(LeaseCheck::SourceLeaving)) {
        WipeOutcome changed = NotOverwritten(path, 0, passes);
        changed.changed = true;
        return changed;
    }
    // Opening the file for writing would break the lease, so it is opened only once it has left
    // its name; whether it can be overwritten is asked first, so that one that cannot keeps it.
    if (overwrite && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        return NotOverwritten(path, errno, passes);
    std::string wipePath;
    if (const int error = MoveToWipeName(path, wipePath); error != 0) return NotOverwritten(path, error, passes);
    if (control.lease) {
        if (!control.lease->Intact(LeaseCheck::SourceAside)) {
            WipeOutcome changed = NotOverwritten(RestoreName(wipePath, path), 0, passes);
            changed.changed = true;
            return changed;
        }
        control.lease->Release();
    }
    outcome.keptAs = wipePath;

    if (overwrite) {
        const UniqueFd writer = OpenFile(wipePath, O_WRONLY | O_NOFOLLOW | O_NONBLOCK);
        if (!writer || !NamesOpenFile(wipePath, writer.get())) {
            const int error = writer ? EBUSY : errno;
            return NotOverwritten(RestoreName(wipePath, path), error, passes);
        }
        outcome.passes = OverwriteOpenFile(writer.get(), static_cast<std::uint64_t>(st.st_size), passes, control.stop);
        if (!outcome.passes.complete()) return outcome;
    }
    if (::unlink(wipePath.c_str()) != 0) {
        outcome.error = errno;
        return outcome;
    }
    outcome.removed = true;
    outcome.keptAs.clear();
    return outcome;
}

WipeOutcome WipeFile(const std::string& path, int passes, const WipeControl& control)
{
    passes = ClampPasses(passes);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return NotOverwritten(path, errno, passes);
        WipeOutcome gone;
        gone.removed = true;
        return gone;
    }
    // A link or device path could lead the passes onto another file or a whole disk.
    if (!S_ISREG(st.st_mode)) return NotOverwritten(path, EINVAL, passes);
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (!fd) return NotOverwritten(path, errno, passes);
    if (!LockFile(fd.get())) return NotOverwritten(path, errno, passes);
    if (!NamesOpenFile(path, fd.get())) {
        // Another operation finished with the file while this one waited for the lock.
        if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
            WipeOutcome gone;
            gone.removed = true;
            return gone;
        }
        return NotOverwritten(path, EBUSY, passes);
    }
    return WipeLockedFile(path, fd.get(), passes, control);
}

WipeOutcome SecureDeleteFile(const std::string& path, int passes, const StopRequested& stop)
{
    if (path.empty()) return NotOverwritten(path, EINVAL, ClampPasses(passes));
    FinishLeftovers(FolderOf(path), passes, stop);
    return WipeFile(path, passes, {stop});
}

int FinishLeftovers(const std::string& folder, int passes, const StopRequested& stop)
{
    struct DirCloser {
        void operator()(DIR* dir) const { ::closedir(dir); }
    };
    std::vector<std::string> names;
    {
        const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.empty() ? "." : folder.c_str()));
        if (!dir) return 0;
        while (const dirent* entry = ::readdir(dir.get())) {
            std::string name = entry->d_name;
            if (IsWorkFileName(name)) names.push_back(std::move(name));
        }
    }
    int removed = 0;
    for (const std::string& name : names) {
        if (stop && stop()) break;
        const std::string path = folder + name;
        // Opened for reading until its lock is had: opening a file for writing breaks the lease
        // an operation may still hold on the source it has just moved aside.
        const UniqueFd fd = OpenFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        // A lock held means its owner is still at work; a file gone from its name was dealt with.
        if (!TryLockFile(fd.get()) || !NamesOpenFile(path, fd.get())) continue;
        // With other links it is a result that has its final name too (a link-then-unlink
        // rename cut short): only the marked name goes.
        if (st.st_nlink == 1) {
            const UniqueFd writer = OpenFile(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK);
            if (!writer || !NamesOpenFile(path, writer.get()) ||
                !OverwriteOpenFile(writer.get(), static_cast<std::uint64_t>(st.st_size), passes, stop).complete())
                continue;
        }
        if (::unlink(path.c_str()) == 0) ++removed;
    }
    return removed;
}

}  // namespace quillix::container
