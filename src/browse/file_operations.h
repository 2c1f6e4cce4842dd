#pragma once

#include "common/dialogs.h"
#include "container/container_rename.h"

#include <functional>
#include <string>
#include <vector>

// The file commands that ask and answer through dialogs: renaming one file (both windows) or a numbered
// batch, and pasting files from the clipboard. None of them shows a window of its own; `Dialogs`
// does, so tests script the answers.
namespace quillix::browse {

inline constexpr const char* kFileExistsCaption = "File exists";
inline constexpr const char* kCopyErrorCaption = "Copy error";

// F2 on one file: asks for the new name ("Rename", "New filename:"), refuses a name that is
// taken ("File already exists.") or that is no name in this folder, and renames without ever
// replacing a file (RenameFileAs with `key`: a "$" name keeps its "$", a container whose key
// holds its name is encrypted anew, one that cannot be checked keeps its name and the "Rename"
// box says why). True when the file was renamed; `reselectNames` then holds its new path (it is
// emptied first in any case).
bool RenameOneFile(const std::string& path, Dialogs& dialogs, std::vector<std::string>& reselectNames,
                   const container::NameChangeKey& key);

// The name file k (0-based) of a batch rename gets: its folder, "$" when its name begins with
// one, `prefix`, k + 1 with at least three digits, and its own extension as it was written.
std::string BatchRenameTarget(const std::string& path, const std::string& prefix, int k);

// F2 on several files: asks for a prefix ("Batch Rename", "Prefix:", "img") and renames the files
// in the given order to BatchRenameTarget. When any target exists, says which ("Target file already
// exists:\n" + target) and moves nothing. Otherwise each file is renamed by RenameFileAs with
// `key`; one that is refused or fails keeps its name and the others go on, and a "Batch Rename"
// box after the run lists them with their reasons. True when the run was made; `reselectNames`
// holds the files under the names they have now (the targets checked before an abort). None
// replaces a file.
bool BatchRename(const std::vector<std::string>& paths, Dialogs& dialogs, std::vector<std::string>& reselectNames,
                 const container::NameChangeKey& key);

// The folder a paste goes to: the folder box, else the loaded folder, else `currentDir`; ending
// in "/".
std::string PasteTargetFolder(const std::string& folderBox, const std::string& loadedFolder,
                              const std::string& currentDir);

// The first of base + "2" + ext, base + "3" + ext, ... that names nothing, for `path` = base + ext
// (ext is the last extension with its dot; a leading dot starts a name, not an extension).
std::string NumberedFreeName(const std::string& path);

// The conflict question's text for `dest`.
std::string FileExistsText(const std::string& dest);
// The "Copy error" text for one file.
std::string CopyFailedText(const std::string& source, const std::string& dest);

// Copies `sources` into `targetFolder` (ending in "/") under their names, in order. A name that is
// taken is asked about ("File exists", Yes/No/Cancel); `shiftHeld` is read when the box returns:
// Yes replaces (with Shift: all later conflicts too, unasked), No copies under NumberedFreeName
// (with Shift: later conflicting files are skipped unasked), Cancel ends the paste, keeping the
// copies made. A copy that fails, or that would replace the source itself, shows a "Copy error"
// box and the paste goes on. A container (IsContainerFile) copied under a numbered name goes
// through GiveContainerName with `key`; its refusal is told in the "Copy error" box. Copies keep
// the source's date. With `cut`, a source is deleted only once its copy is complete and read
// back to hold the source's bytes, or for a container under a new name, is known to open.
// Returns the paths written, in order.
std::vector<std::string> PasteFiles(const std::vector<std::string>& sources, bool cut, const std::string& targetFolder,
                                    Dialogs& dialogs, const std::function<bool()>& shiftHeld,
                                    const container::NameChangeKey& key);

}  // namespace quillix::browse
