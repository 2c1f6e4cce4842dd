#pragma once

#include "common/result.h"
#include "container/strong_format.h"
#include "crypto/secure.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

// Strong containers on open files: written and read message by message, so that a file of any
// size passes through a few megabytes of memory once.
namespace quillix::container {

using StrongKey = crypto::SecretBytes<32>;

// A header for a new strong container under `password`: the run's salt for it (StrongSaltFor),
// the passes and memory written today; the stream header is still zero.
Result<StrongHeader> NewStrongHeader(const std::string& password);

// The key of `header` for `password` (its bytes as typed), through the cache.
Result<StrongKey> StrongKeyOf(const StrongHeader& header, const std::string& password);

// Checks the header of the strong container open as `fd` (ValidateStrongContainer).
Result<StrongLayout> ReadStrongHeader(int fd);

// Asked before each read of the plain file; an error stops the writing with it.
using BeforeRead = std::function<Result<void>()>;

// Writes the container of the `plainLength` bytes the file open as `in` holds from its start to
// `out` at its current position: header (`header`, given its stream header here), then the
// messages. A file that shrank meanwhile ends early, one that grew is cut at `plainLength`.
// `source` and `target` name the two files in errors.
Result<void> WriteStrongContainer(int in, std::uint64_t plainLength, int out, StrongHeader header, const StrongKey& key,
                                  const BeforeRead& beforeRead, const std::string& source, const std::string& target);

// Takes the plain bytes of each authenticated piece with its offset; false stops the reading
// as a failed write.
using StrongPlainSink = std::function<bool(std::span<const std::uint8_t> plain, std::uint64_t offset)>;

// Reads, authenticates and decrypts the messages of the container open as `fd`, handing the
// plain bytes to `sink` (none: only checked) in order, each piece only once it authenticated.
// Fails on a message that does not authenticate (kMacMismatch), one out of place (a missing
// final message, bytes after it), a short read or a failed sink.
Result<void> ReadStrongBody(int fd, const StrongLayout& layout, const StrongKey& key, const StrongPlainSink& sink);

// The same, decrypting straight into `plain`, which holds exactly the plain length. After a
// failure `plain` holds bytes that did not authenticate: the caller wipes it.
Result<void> ReadStrongBodyInto(int fd, const StrongLayout& layout, const StrongKey& key,
                                std::span<std::uint8_t> plain);

}  // namespace quillix::container
