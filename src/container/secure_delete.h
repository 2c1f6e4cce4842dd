#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Overwriting files before they are deleted. Overwriting in place cannot reach copies that
// journaling, copy-on-write file systems or SSD wear levelling keep elsewhere.
namespace quillix::container {

// Each pass writes at least this many bytes, so a small file's old blocks are all covered.
inline constexpr std::uint64_t kMinOverwriteLength = 700 * 1024;

class SourceLease;

// Passes are 0 to 35; 0 deletes without overwriting. A negative count is no request to skip
// the overwrite: it stands for the default, as an unreadable setting does. More than 35 is 35,
// so that a wipe always ends.
inline constexpr int kDefaultPasses = 7;
inline constexpr int kMaxPasses = 35;
int ClampPasses(int passes);

// Asked before each pass; true leaves the passes still to come to a later FinishLeftovers (the
// program is closing). Empty: never.
using StopRequested = std::function<bool()>;

// What the passes over one file achieved.
struct OverwriteReport {
    int passesWanted = 0;
    int passesDone = 0;            // passes that covered every byte the file held
    bool cutShort = false;         // a pass ran out of space after the file's own length
    bool stopped = false;          // asked to stop before all passes were done
    std::uint64_t fileLength = 0;  // what the file held before the first pass
    std::uint64_t failedAt = 0;    // bytes the failed pass had written
    int error = 0;                 // errno of the failed pass; 0 when none failed

    bool complete() const { return passesDone >= passesWanted; }
};

// Writes `passes` (ClampPasses) passes of pseudo-random bytes over the file open for writing as
// `fd`, each max(716800, fileLength) bytes from its start and flushed to the device. A pass that
// runs out of space only after fileLength bytes has still covered every byte the file held: it
// counts as done, and the file is cut back to fileLength so that the next pass and the flush
// find room. A stop is only looked at between passes.
OverwriteReport OverwriteOpenFile(int fd, std::uint64_t fileLength, int passes, const StopRequested& stop = {});

// What became of a file given to be wiped.
struct WipeOutcome {
    bool removed = false;     // its name is gone
    bool otherLinks = false;  // not overwritten: other hard links still hold its bytes
    // Another program opened it for writing (or, without a lease, changed it) before it left
    // its name for good: it was not touched and is kept as keptAs.
    bool changed = false;
    std::string keptAs;  // when not removed: where its bytes are now (the wipe name or the path)
    int error = 0;       // errno when it could not be opened for writing, moved or removed
    OverwriteReport passes;

    bool ok() const { return removed && error == 0 && (otherLinks || passes.complete()); }
};

// What may hold a wipe back besides a failure.
struct WipeControl {
    StopRequested stop;
    // The lease an in-place operation holds on the file: checked right before and right after
    // the file leaves its name, and let go once it has, so that nobody can open the picture for
    // writing in between. When the check fails the file goes back to its name untouched.
    SourceLease* lease = nullptr;
};

// Securely deletes the regular file at `path`, which the caller has open as `fd` and locked.
// The file first moves to a wipe name in its folder, so that its half-overwritten bytes never
// carry the picture's name, and is overwritten and removed there; a file that cannot be
// overwritten keeps its name. A file with other hard links only loses this name, since
// overwriting it would destroy what the other names hold. After a failed pass, or when told to
// stop (even before the first pass), it stays under the wipe name, still locked while the caller
// holds `fd`, for a later FinishLeftovers. With `passes` 0 it is only removed.
WipeOutcome WipeLockedFile(const std::string& path, int fd, int passes, const WipeControl& control = {});

// WipeLockedFile for a file not yet open: a missing file counts as wiped; a link, folder, device
// or pipe is refused (error EINVAL) and never opened for writing.
WipeOutcome WipeFile(const std::string& path, int passes, const WipeControl& control = {});

// WipeFile, after finishing the leftovers of the file's folder: the secure delete of a file
// nobody holds. An empty path is refused (error EINVAL).
WipeOutcome SecureDeleteFile(const std::string& path, int passes, const StopRequested& stop = {});

// Overwrites (with `passes`) and removes the temporary and wipe files in `folder` whose owner is
// gone, which a held lock tells; files in use are left alone, and a leftover with other hard
// links only loses its name. A stop leaves the rest for later. The number of leftovers removed.
int FinishLeftovers(const std::string& folder, int passes, const StopRequested& stop = {});

}  // namespace quillix::container
