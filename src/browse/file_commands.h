#pragma once

#include "common/result.h"
#include "common/subfolders.h"
#include "container/container_rename.h"

#include <string>
#include <vector>

// The viewer's file commands that touch the disk: copying the shown picture into a folder and
// renaming it, both without ever replacing a file that is already there, and neither ever making
// a container unreadable: under a new plain name a container goes through GiveContainerName.
namespace quillix::browse {

// The folder lister is shared with the dialogs, which sit below the viewer.
using quillix::SubfolderNames;

inline constexpr const char* kFileExistsText = "File already exists.";
inline constexpr const char* kRenameFailedText = "Rename failed.";

// The first of folder + fileName, folder + base + "1" + ext, base + "2" + ext, ... with no entry
// on disk, where ext is the last extension with its dot and base the rest. A name's leading dot
// starts a hidden name, not an extension: ".hidden" goes on as ".hidden1". `targetFolder` ends
// in "/" (one is added when it does not).
std::string UniqueTargetName(const std::string& targetFolder, const std::string& fileName);

// Copies `source` into `targetFolder` under UniqueTargetName and returns the new path. The copy
// is written to a temporary file, flushed, and only then given its name in a step that fails
// rather than replace a file, so a file that appears meanwhile is kept and the next free name
// taken. The copy has the source's permission bits and modification time. A container (IsContainerFile)
// that gets a numbered name is copied by GiveContainerName with `key`, whose refusal comes back
// as it is (IsRefusedNameChange). When `createFolder`, missing folders are created first. On any
// failure (an Io error; Unsupported when the source is not a regular file) nothing is left in
// the target folder.
Result<std::string> CopyIntoFolder(const std::string& source, const std::string& targetFolder, bool createFolder,
                                   const container::NameChangeKey& key);

// Copies `source` to the file `target` in the same manner: a temporary file in the target's
// folder, flushed, then given the name. With `replace` an existing target is replaced in one step
// (it is never seen half-written); without, a target that exists fails (Exists) and is kept. The
// copy has the source's permission bits and modification time.
// A target that is the source itself, reached through another path or hard link (same device and
// inode), is refused (Unsupported) and both stay untouched. Nothing is left behind on failure.
Result<void> CopyFileAs(const std::string& source, const std::string& target, bool replace);

// Renames `from` to `to`, failing (Io, "already exists") rather than replacing an existing `to`.
// Where the file system cannot rename without replacing, the file is linked to the new name and
// the old name removed.
Result<void> RenameNoReplace(const std::string& from, const std::string& to);

// Renames `from` to `to` in the same manner as RenameNoReplace; a container (IsContainerFile)
// whose plain name changes is renamed by GiveContainerName with `key`, so that it still opens
// under its new name. Its refusal comes back as it is (IsRefusedNameChange), a taken name as
// ErrorKind::Exists.
Result<container::NameChange> RenameFileAs(const std::string& from, const std::string& to,
                                           const container::NameChangeKey& key);

// What the user is told about a refused name change (IsRefusedNameChange) of the file at `path`:
// "<name> was not <done>: " and the reason.
std::string RefusedNameChangeText(const std::string& path, const std::string& done, const Error& error);

// What the rename command does with the answer typed for the file at `currentPath`.
struct RenamePlan {
    enum class Action {
        Nothing,  // an empty answer, or the current name
        Exists,   // a file of the new name is there: kFileExistsText
        Invalid,  // not a name in this folder ("/", "." or ".."): kRenameFailedText
        Rename,   // RenameNoReplace(currentPath, newPath); on failure kRenameFailedText
    };
    Action action = Action::Nothing;
    std::string newPath;
};

// The answer with spaces trimmed at both ends names the new file in the same folder; a "$" name
// stays a "$" name (KeepContainerMark), so "b.jpg" typed for "$a.jpg" names "$b.jpg". Names are
// compared case-sensitively: "a.jpg" to "A.jpg" is a rename.
RenamePlan PlanRename(const std::string& currentPath, const std::string& answer);

}  // namespace quillix::browse
