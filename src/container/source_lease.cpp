#include "container/source_lease.h"

#include "common/temp_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstdint>

namespace quillix::container {
namespace {

// NFS and SMB clients answer a lease request with EAGAIN whenever the server has not handed the
// file to them to cache, busy or not; there the answer says nothing about writers.
bool RefusesLeasesWhenNotCached(int fd)
{
    constexpr std::int64_t kNfs = 0x6969, kSmb = 0x517B, kCifs = 0xFF534D42, kSmb2 = 0xFE534D42;
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    const std::int64_t type = static_cast<std::int64_t>(fs.f_type);
    return type == kNfs || type == kSmb || type == kCifs || type == kSmb2;
}

bool SameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

Result<SourceLease> SourceLease::Take(int fd, const std::string& path, CheckHook beforeCheck)
{
    SourceLease lease;
    lease.beforeCheck_ = std::move(beforeCheck);
    lease.fd_ = UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!lease.fd_) return ErrnoError("cannot examine " + path);
    // A breaking writer is announced by a signal, SIGIO unless told otherwise, which would end
    // the process. SIGURG is ignored unless a program asks for it; the lease is asked instead.
    if (::fcntl(lease.fd_.get(), F_SETSIG, SIGURG) == 0 && ::fcntl(lease.fd_.get(), F_SETLEASE, F_RDLCK) == 0) {
        lease.leased_ = true;
    } else if (errno == EAGAIN && !RefusesLeasesWhenNotCached(lease.fd_.get())) {
        return MakeError(ErrorKind::Io, path + " is in use by another program, which has it open for writing; it "
                                               "was left as it is");
    }
    // Any other refusal (no lease on this file system, a file of another user without
    // CAP_LEASE): the size and times stand in for the lease.
    if (::fstat(lease.fd_.get(), &lease.taken_) != 0) return ErrnoError("cannot examine " + path);
    return lease;
}

bool SourceLease::Intact(LeaseCheck at) const
{
    if (beforeCheck_) beforeCheck_(at);
    if (!fd_) return false;
    // Once a writer has begun to break the lease, it reads as what the writer needs: none.
    if (leased_) return ::fcntl(fd_.get(), F_GETLEASE) == F_RDLCK;
    struct stat now {};
    if (::fstat(fd_.get(), &now) != 0) return false;
    return now.st_size == taken_.st_size && SameTime(now.st_mtim, taken_.st_mtim) &&
           (at == LeaseCheck::SourceAside || SameTime(now.st_ctim, taken_.st_ctim));
}

void SourceLease::Release()
{
    if (leased_ && fd_) (void)::fcntl(fd_.get(), F_SETLEASE, F_UNLCK);
    fd_.reset();
}

}  // namespace quillix::container
