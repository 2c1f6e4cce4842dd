#pragma once

#include <cstdint>
#include <string>

namespace quillix::container {

// Each pass writes at least this many bytes, so a small file's old blocks are all covered.
inline constexpr std::uint64_t kMinOverwriteLength = 700 * 1024;

// Overwrites the file `passes` times with pseudo-random bytes (max(716800, its size) bytes each,
// flushed to the device) and then deletes it; a missing file is created for the passes and
// deleted again. False when `path` is empty, names something other than a plain file (a link,
// folder or device is never written through), or a pass could not be written; the file is then
// left in place. The deletion's own outcome is not examined. Overwriting in place cannot reach
// copies that journaling, copy-on-write file systems or SSD wear levelling keep elsewhere.
bool SecureDeleteFile(const std::string& path, int passes);

}  // namespace quillix::container
