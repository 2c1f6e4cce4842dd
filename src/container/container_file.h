#pragma once

#include "common/paths.h"
#include "common/result.h"
#include "container/container_format.h"

#include <optional>
#include <string>

// Recognition, trailer markers and header reading on files. None of these throws; every I/O
// failure becomes 0, false or an error result.
namespace quillix::container {

// 1, 2 or 3 for the marker at the file's end, 0 for none or on any failure.
int ReadTrailerMarker(const std::string& path);
// The same for a file already open for reading.
int ReadTrailerMarker(int fd);

// Cuts a marker off the file's end; true also when there was none to cut.
bool StripTrailerMarker(const std::string& path);

// Makes the file end in the marker of `alg` (no marker for AES). False for an unknown `alg`,
// after having stripped any marker, or on failure.
bool SetTrailerMarker(const std::string& path, int alg);

// True when the file name begins with "$", or else when the file is a strong container
// (IsStrongContainer) or ends in a trailer marker.
bool IsEncryptedFile(const std::string& path);

// True when the file begins with the magic and version 3: a strong container, whatever its
// name. False on any failure.
bool IsStrongContainer(const std::string& path);
bool IsStrongContainer(int fd);

// Opens the file and checks its header in the order ValidateContainer fixes.
Result<ContainerLayout> ReadContainerHeader(const std::string& path);

// The same checks on a file already open for reading.
Result<ContainerLayout> ReadContainerHeader(int fd);

// The header text of a strong container (StrongHeaderInfoText), or else of any file of at least
// 84 bytes (HeaderInfoText); nothing for shorter files or on failure.
std::optional<std::string> HeaderInfoOfFile(const std::string& path);

}  // namespace quillix::container
