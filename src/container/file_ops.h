#pragma once

#include "common/result.h"

#include <cstdint>
#include <string>
#include <vector>

// Whole-file encryption and decryption in place. No function here shows anything or asks for
// a password; FileCrypto (file_crypto.h) adds the password and the secure deletion.
namespace quillix::container {

// The options an operation works with, taken fresh for every file.
struct FileOptions {
    int EncryptionAlg = 0;               // CipherId of new containers
    bool FileNamePW = true;              // the file name takes part in the password text
    bool Fast = true;                    // 20000 iterations and name-derived salts
    std::int64_t MaxBytes = 444 * 1024;  // KiB; 0 or less encrypts the whole file
    int Passes = 7;                      // overwrite passes of the secure deletion
};

// Writes "$" + name next to `path`. The container is built under a free temporary name, flushed
// to disk and then renamed into place, so an existing container of that name is replaced only by
// a complete one and a failure leaves nothing behind. The plain file is not touched. Returns the
// container's path, or `path` itself when its name already begins with "$".
Result<std::string> EncryptToContainer(const std::string& path, const std::string& password,
                                       const FileOptions& options);

// Turns "$" + name back into name. The MAC is checked before any plain byte is written; the
// plain file is then written under a free temporary name, flushed and renamed over any existing
// file of that name in one step. The container is not touched. Returns the plain file's path,
// or `path` itself when its name does not begin with "$".
Result<std::string> DecryptToPlainFile(const std::string& path, const std::string& password, bool fileNamePW);

// Validates and authenticates a container without decrypting anything.
Result<void> VerifyContainerFile(const std::string& path, const std::string& password, bool fileNamePW);

// The plain bytes of a container, decrypted in memory; the name need not begin with "$".
Result<std::vector<std::uint8_t>> DecryptContainerFile(const std::string& path, const std::string& password,
                                                       bool fileNamePW);

// The same three operations in the program's own terms: an empty text on failure, the argument
// when there is nothing to do, else the new path.
std::string EncryptFileToContainer(const std::string& path, const std::string& password, const FileOptions& options);
std::string DecryptContainerToFile(const std::string& path, const std::string& password, bool fileNamePW);

// On true `stream` holds exactly the plain bytes; on false it is empty.
bool DecryptToStream(const std::string& path, const std::string& password, bool fileNamePW,
                     std::vector<std::uint8_t>& stream);

}  // namespace quillix::container
