#pragma once

#include "common/result.h"

#include <functional>
#include <string>

// Giving a container another name. With "Password+FileName" a container's key holds its plain
// name, which the container does not record, so under a new name it would never open again. A
// container whose key holds its name is therefore encrypted anew for the new name, and a
// container the password does not open keeps its name.
namespace quillix::container {

class FileCrypto;

// What a name change opens a container with.
struct NameChangeKey {
    // The password of the run; empty when none was typed.
    std::string password;
    // "Password+FileName": only decides which of the two keys is tried first.
    bool fileNamePW = true;
    // Called when the password opened a container, which shows that it is known good.
    std::function<void()> opened;

    ~NameChangeKey();
};

// The password of the run, the setting of the next operation and the confirmation of that
// password, taken from `crypto` now; `crypto` must outlive the key.
NameChangeKey NameChangeKeyOf(const FileCrypto& crypto);

// The file name of `path` without its folder and without a leading "$": the name a key holds.
std::string PlainNameOf(const std::string& path);

// `newName` for a file named `currentName`: a "$" name stays a "$" name, so a new name without
// one gets it back.
std::string KeepContainerMark(const std::string& currentName, const std::string& newName);

// True when the file counts as encrypted (IsEncryptedFile) and begins with the container's
// magic. A file whose name merely begins with "$" is no container: nothing could lock it away.
bool IsContainerFile(const std::string& path);

// The words every refusal ends with: what the user is to do.
inline constexpr const char* kTypePasswordFirst = "type the password first (Ctrl+Shift+P)";

// True for the errors of GiveContainerName that say why a container was left as it was (no
// password, one that does not open it, a damaged container, a name too long for the key), as
// opposed to the file system refusing a step. Their messages begin in lower case, to follow
// "<name> was not renamed: ".
bool IsRefusedNameChange(const Error& error);

enum class NameChangeMode {
    Move,  // the container ends up under `to` only
    Copy,  // `from` stays as it is
};

struct NameChange {
    // The key held the name: a new container was written for the new one.
    bool reencrypted = false;
    // A move whose source could not be removed afterwards: what the user is to be told. The new
    // container is complete and opens.
    std::string warning;
};

// Gives the container at `from` the name `to` (a full path, in the same folder or another),
// never replacing a file that has it (ErrorKind::Exists). When the plain name stays the same the
// key does too, and no password is needed; nor is one for a strong container, whose key never
// holds a name. Otherwise the password of `key` must open the
// container, with the current plain name in its key or without: with the name, a new container
// for the new name is written as an encryption writes one (a marked temporary file in the
// target's folder, flushed, named without replacing, the folder flushed) with the same cipher,
// iteration count and encrypted length, and checked to open; without, the container is renamed
// or copied as it is, a copy checked to hold its bytes. Only then does a move remove `from`.
// The result keeps the container's modification time and permission bits. Without a password,
// or when neither key opens the container, nothing is written and the error says why and what
// to do (kTypePasswordFirst); a damaged container or a name too long for the key is refused as
// well (IsRefusedNameChange).
Result<NameChange> GiveContainerName(const std::string& from, const std::string& to, const NameChangeKey& key,
                                     NameChangeMode mode);

}  // namespace quillix::container
