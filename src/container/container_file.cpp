#include "container/container_file.h"

#include "common/unique_fd.h"
#include "container/strong_format.h"

#include <sys/stat.h>

#include <array>
#include <cstring>

namespace quillix::container {
namespace {

std::optional<std::uint64_t> FileLength(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

int MarkerOfOpenFile(int fd, std::uint64_t length)
{
    if (length < kMarkerSize) return 0;
    std::array<std::uint8_t, kMarkerSize> tail{};
    if (ReadAt(fd, tail, length - kMarkerSize) != static_cast<long long>(tail.size())) return 0;
    return MarkerKindOf(tail);
}

}  // namespace

int ReadTrailerMarker(const std::string& path)
{
    // Without blocking: a pipe with a picture's name must not hang whoever looks at it.
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    return fd ? ReadTrailerMarker(fd.get()) : 0;
}

int ReadTrailerMarker(int fd)
{
    const std::optional<std::uint64_t> length = FileLength(fd);
    return length ? MarkerOfOpenFile(fd, *length) : 0;
}

bool StripTrailerMarker(const std::string& path)
{
    if (ReadTrailerMarker(path) == 0) return true;
    const UniqueFd fd = OpenFile(path, O_RDWR | O_NONBLOCK);
    if (!fd) return false;
    const std::optional<std::uint64_t> length = FileLength(fd.get());
    if (!length) return false;
    if (*length < kMarkerSize) return true;
    return ::ftruncate(fd.get(), static_cast<off_t>(*length - kMarkerSize)) == 0;
}

bool SetTrailerMarker(const std::string& path, int alg)
{
    if (!StripTrailerMarker(path)) return false;
    if (alg == 0) return true;
    const std::span<const std::uint8_t> marker = MarkerBytes(alg);
    if (marker.empty()) return false;
    const UniqueFd fd = OpenFile(path, O_WRONLY | O_APPEND | O_NONBLOCK);
    return fd && WriteAll(fd.get(), marker);
}

bool IsEncryptedFile(const std::string& path)
{
    const std::string name = FileNameOf(path);
    if (!name.empty() && name.front() == '$') return true;
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    return fd && (IsStrongContainer(fd.get()) || ReadTrailerMarker(fd.get()) != 0);
}

bool IsStrongContainer(const std::string& path)
{
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    return fd && IsStrongContainer(fd.get());
}

bool IsStrongContainer(int fd)
{
    if (!FileLength(fd)) return false;
    std::array<std::uint8_t, 5> head{};
    return ReadAt(fd, head, 0) == static_cast<long long>(head.size()) && IsStrongHead(head);
}

Result<ContainerLayout> ReadContainerHeader(const std::string& path)
{
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    if (!fd) return MakeError(ErrorKind::Io, std::strerror(errno));
    return ReadContainerHeader(fd.get());
}

Result<ContainerLayout> ReadContainerHeader(int fd)
{
    const std::optional<std::uint64_t> length = FileLength(fd);
    if (!length) return MakeError(ErrorKind::Io, "not a regular file");
    HeaderBytes head{};
    const long long got = ReadAt(fd, head, 0);
    if (got < 0) return MakeError(ErrorKind::Io, std::strerror(errno));
    return ValidateContainer(*length, MarkerOfOpenFile(fd, *length),
                             std::span<const std::uint8_t>(head.data(), static_cast<std::size_t>(got)));
}

std::optional<std::string> HeaderInfoOfFile(const std::string& path)
{
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    if (!fd || !FileLength(fd.get())) return std::nullopt;
    HeaderBytes head{};
    const long long got = ReadAt(fd.get(), head, 0);
    if (got >= static_cast<long long>(kStrongHeaderSize) && IsStrongHead(head))
        return StrongHeaderInfoText(std::span(head).first<kStrongHeaderSize>());
    if (got != static_cast<long long>(head.size())) return std::nullopt;
    return HeaderInfoText(head);
}

}  // namespace quillix::container
