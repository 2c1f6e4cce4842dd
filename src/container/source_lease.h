#pragma once

#include "common/result.h"
#include "common/unique_fd.h"

#include <sys/stat.h>

#include <functional>
#include <string>

// Keeping other programs from writing to the file an in-place operation reads: its copy would
// hold part of the file while the rest lands in a file about to be wiped.
namespace quillix::container {

// The moments an in-place operation makes sure that nobody else writes to its source.
enum class LeaseCheck {
    Reading,        // between the pieces of the source it reads
    ResultWritten,  // the result is complete under its temporary name
    ResultNamed,    // the result has its name
    SourceLeaving,  // right before the source leaves its name for the wipe
    SourceAside,    // the source has its wipe name; the lease is let go after this check
};

// A read lease (fcntl F_SETLEASE) on the source of an in-place operation: while it is held,
// another program that opens the file for writing or truncates it waits, and the lease tells.
// Where the system gives no lease (some network file systems, a file of another user), the
// size and the modification and change times the file had when the lease was taken are watched
// instead; that cannot see a writer that keeps the file open without writing.
class SourceLease {
public:
    using CheckHook = std::function<void(LeaseCheck)>;

    // Takes the lease on the regular file open read-only as `fd`. ErrorKind::Io "<path> is in
    // use by another program" while a program has the file open for writing. `beforeCheck` is
    // called right before each check (tests act there at an exact moment).
    static Result<SourceLease> Take(int fd, const std::string& path, CheckHook beforeCheck = {});

    SourceLease(SourceLease&&) noexcept = default;
    SourceLease& operator=(SourceLease&&) = delete;
    ~SourceLease() { Release(); }

    // True while nobody has opened the file for writing since the lease was taken; without a
    // lease, while its size and times are those it had then (except the change time at
    // SourceAside, which the operation's own rename has changed). False once released.
    bool Intact(LeaseCheck at) const;

    // Lets the programs that wait to write go on. Can be called many times.
    void Release();

    // A lease is held, rather than the size and times watched.
    bool Leased() const { return leased_; }
    // The file as it was when the lease was taken.
    const struct stat& Taken() const { return taken_; }

private:
    SourceLease() = default;

    // A duplicate of the caller's descriptor: the lease belongs to the open file, so it is
    // released through this one whatever becomes of the caller's.
    UniqueFd fd_;
    bool leased_ = false;
    struct stat taken_ {};
    CheckHook beforeCheck_;
};

}  // namespace quillix::container
