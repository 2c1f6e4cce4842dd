#pragma once

#include "common/result.h"
#include "container/secure_delete.h"
#include "container/source_lease.h"

#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

// Whole-file encryption and decryption in place. No function here shows anything or asks for
// a password; FileCrypto (file_crypto.h) adds the password and the reporting.
namespace quillix::container {

// How much of a file is encrypted unless told otherwise: its first 444 MiB, which covers any
// ordinary picture whole. MaxKiB counts it in KiB.
inline constexpr int kDefaultMaxMiB = 444;
inline constexpr std::int64_t kDefaultMaxKiB = std::int64_t{kDefaultMaxMiB} * 1024;

// The options an operation works with, taken fresh for every file.
struct FileOptions {
    int EncryptionAlg = 0;                 // CipherId of new containers; CipherStrong: the strong one
    bool FileNamePW = true;                // the file name takes part in the password text
    bool Fast = true;                      // 20000 iterations and name-derived salts
    std::int64_t MaxKiB = kDefaultMaxKiB;  // 0 or less encrypts the whole file
    int Passes = 7;                        // overwrite passes of the secure deletion (ClampPasses)
    // Looked at between the overwrite passes: a stop leaves the rest of the source's wipe to a
    // later FinishLeftovers, and the wipe counts as not done (the program is closing).
    std::stop_token stop;
    // Called right before each check that nobody else writes the source.
    SourceLease::CheckHook onLeaseCheck;
};

// What an in-place operation did.
struct InPlaceResult {
    // The file that holds the picture now; the argument itself when there was nothing to do.
    std::string path;
    // The result was there already, complete, left by a run that was interrupted before it
    // had removed the source; this run only removed the source.
    bool finishedEarlierRun = false;
    // What became of the source, when there was something to do.
    WipeOutcome wipe;
};

// Encrypts `path` into "$" + name in the same folder and then securely deletes it. Before
// anything else, leftovers of killed runs in the folder are finished (FinishLeftovers). Only
// a regular file is worked on (links are not followed, pipes and devices never opened), and
// under an exclusive lock held to the end; when, once the lock is held, the path no longer
// names the file that was opened, there is nothing left to do. Another program writing the file
// would leave the container with part of it: a file open for writing is refused ("in use by
// another program"), and one opened for writing (or, without a lease, changed) before it has
// left its name is kept as it is, and the new container removed (SourceLease). The container
// gets the file's modification time. An existing "$" + name is never
// replaced: when it decrypts to exactly this file's bytes it is the container of an interrupted
// run, and only the plain file is removed; otherwise ErrorKind::Exists and both stay as they
// are. Refused before anything is written, in the compatible format only: an empty file, one
// whose container would reach 2^31 bytes, and a name and password whose password text the
// 200-byte cut would shorten. A strong container (CipherStrong) has none of these limits, and
// FileNamePW, Fast and MaxKiB do not apply to it.
// The container is built under a temporary name, flushed and renamed into place without
// replacing. Returns `path` itself when it is encrypted already.
Result<InPlaceResult> EncryptInPlace(const std::string& path, const std::string& password, const FileOptions& options);

// Decrypts "$" + name back into name with the same care, then securely deletes the container.
// The MAC is checked before any plain byte is written; the plain file gets the container's
// permission bits only once it has its name, and its modification time. A container that
// another program writes is refused or kept, and the plain file removed, as in EncryptInPlace. An existing plain file
// is never replaced: when it holds exactly the decrypted bytes the container is removed, otherwise ErrorKind::Exists.
// Either format is read by its header; a strong container is read once, and its plain file
// gets its name only once every message authenticated. Returns `path` itself when its name does
// not begin with "$", unless it is a strong container, which has then no plain name to go to
// (ErrorKind::Unsupported); a missing path or one that is not a regular file is a failure.
Result<InPlaceResult> DecryptInPlace(const std::string& path, const std::string& password, const FileOptions& options);

// What the user is to be told about the source of a successful in-place operation (`encrypted`:
// the source was the plain file): that other hard links still hold it, or "Secure overwrite
// failed." with what was and was not overwritten. Empty when it was wiped as planned.
std::string SourceWarning(const std::string& source, const InPlaceResult& result, bool encrypted);

// EncryptInPlace without deleting the plain file and without looking for leftovers; the
// container's path. An existing container is not replaced either.
Result<std::string> EncryptToContainer(const std::string& path, const std::string& password,
                                       const FileOptions& options);

// DecryptInPlace without deleting the container; the plain file's path.
Result<std::string> DecryptToPlainFile(const std::string& path, const std::string& password, bool fileNamePW);

// Validates and authenticates a container without decrypting anything.
Result<void> VerifyContainerFile(const std::string& path, const std::string& password, bool fileNamePW);

// The plain bytes of a container, decrypted in memory; the name need not begin with "$".
Result<std::vector<std::uint8_t>> DecryptContainerFile(const std::string& path, const std::string& password,
                                                       bool fileNamePW);

// Takes the plain bytes of a container piece by piece, in order; false stops the decryption.
using PlainPieces = std::function<bool(std::span<const std::uint8_t> piece)>;

// Hands the plain bytes of a container to `sink` without holding them all: a strong container's
// piece by piece in one pass, each piece once its messages authenticated (a damaged message
// further on fails the call after earlier pieces went out); a compatible container's only once
// its MAC held. The pieces are wiped once the sink has them.
Result<void> DecryptContainerTo(const std::string& path, const std::string& password, bool fileNamePW,
                                const PlainPieces& sink);

// On true `stream` holds exactly the plain bytes; on false it is empty.
bool DecryptToStream(const std::string& path, const std::string& password, bool fileNamePW,
                     std::vector<std::uint8_t>& stream);

}  // namespace quillix::container
