#include "gallery/file_operations.h"

#include "common/paths.h"
#include "common/text.h"
#include "viewer/file_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace quillix::gallery {
namespace {

bool EntryExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Where the extension of a file name starts (its last dot), or npos; a leading dot starts a
// hidden name.
std::size_t ExtensionStart(const std::string& path)
{
    const std::size_t nameStart = path.find_last_of('/') + 1;
    const std::size_t dot = path.find_last_of('.');
    return dot == std::string::npos || dot <= nameStart ? std::string::npos : dot;
}

}  // namespace

bool RenameOneFile(const std::string& path, Dialogs& dialogs, std::vector<std::string>& reselectNames)
{
    reselectNames.clear();
    if (path.empty()) return false;
    const std::optional<std::string> answer = dialogs.InputText("Rename", "New filename:", FileNameOf(path));
    if (!answer) return false;
    const viewer::RenamePlan plan = viewer::PlanRename(path, *answer);
    switch (plan.action) {
    case viewer::RenamePlan::Action::Nothing: return false;
    case viewer::RenamePlan::Action::Exists:
        dialogs.ShowMessage("Rename", viewer::kFileExistsText, MessageIcon::Warning, MessageButtons::Ok);
        return false;
    case viewer::RenamePlan::Action::Invalid: break;
    case viewer::RenamePlan::Action::Rename:
        if (viewer::RenameNoReplace(path, plan.newPath)) {
            reselectNames.push_back(plan.newPath);
            return true;
        }
        break;
    }
    dialogs.ShowMessage("Error", viewer::kRenameFailedText, MessageIcon::Error, MessageButtons::Ok);
    return false;
}

std::string BatchRenameTarget(const std::string& path, const std::string& prefix, int k)
{
    char number[16];
    std::snprintf(number, sizeof number, "%03d", k + 1);
    const std::size_t dot = ExtensionStart(path);
    const std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
    return FolderOf(path) + prefix + number + extension;
}

bool BatchRename(const std::vector<std::string>& paths, Dialogs& dialogs, std::vector<std::string>& reselectNames)
{
    reselectNames.clear();
    if (paths.empty()) return false;
    const std::optional<std::string> answer = dialogs.InputText("Batch Rename", "Prefix:", "img");
    if (!answer) return false;
    const std::string prefix = TrimBlanksAndControls(*answer);
    // A prefix with a "/" would move the files into another folder.
    if (prefix.find('/') != std::string::npos) {
        dialogs.ShowMessage("Error", viewer::kRenameFailedText, MessageIcon::Error, MessageButtons::Ok);
        return false;
    }
    std::vector<std::string> targets;
    for (std::size_t k = 0; k < paths.size(); ++k) {
        targets.push_back(BatchRenameTarget(paths[k], prefix, static_cast<int>(k)));
        reselectNames.push_back(targets.back());
        if (EntryExists(targets.back())) {
            dialogs.ShowMessage("Batch Rename", "Target file already exists:\n" + targets.back(), MessageIcon::Warning,
                                MessageButtons::Ok);
            return false;
        }
    }
    for (std::size_t k = 0; k < paths.size(); ++k)
        (void)viewer::RenameNoReplace(paths[k], targets[k]);
    return true;
}

std::string PasteTargetFolder(const std::string& folderBox, const std::string& loadedFolder,
                              const std::string& currentDir)
{
    if (!folderBox.empty()) return WithSeparator(folderBox);
    if (!loadedFolder.empty()) return WithSeparator(loadedFolder);
    return WithSeparator(currentDir);
}

std::string NumberedFreeName(const std::string& path)
{
    const std::size_t dot = ExtensionStart(path);
    const std::string base = dot == std::string::npos ? path : path.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
    std::string candidate;
    for (unsigned long long k = 2;; ++k) {
        candidate = base + std::to_string(k) + extension;
        if (!EntryExists(candidate)) return candidate;
    }
}

std::string FileExistsText(const std::string& dest)
{
    return "File already exists:\n\n" + dest +
           "\n\nOverwrite?\n\nTip: Hold Shift while clicking Yes to overwrite all,\nor Shift+No to skip all remaining "
           "files.";
}

std::string CopyFailedText(const std::string& source, const std::string& dest)
{
    return "Copy failed:\n\n" + source + "\n->\n" + dest;
}

std::vector<std::string> PasteFiles(const std::vector<std::string>& sources, bool cut, const std::string& targetFolder,
                                    Dialogs& dialogs, const std::function<bool()>& shiftHeld)
{
    std::vector<std::string> pasted;
    bool overwriteAll = false, skipAll = false;
    const std::string folder = WithSeparator(targetFolder);
    for (const std::string& source : sources) {
        if (source.empty()) continue;
        const std::string plainDest = folder + FileNameOf(source);
        std::string dest = plainDest;
        bool replace = false, numbered = false;
        if (EntryExists(dest)) {
            if (skipAll) continue;
            if (overwriteAll) {
                replace = true;
            } else {
                const MessageAnswer answer = dialogs.ShowMessage(kFileExistsCaption, FileExistsText(dest),
                                                                 MessageIcon::Question, MessageButtons::YesNoCancel);
                const bool shift = shiftHeld && shiftHeld();
                if (answer == MessageAnswer::Yes) {
                    overwriteAll = shift;
                    replace = true;
                } else if (answer == MessageAnswer::No) {
                    skipAll = shift;
                    dest = NumberedFreeName(plainDest);
                    numbered = true;
                } else {
                    break;
                }
            }
        }
        Result<void> copied = viewer::CopyFileAs(source, dest, replace);
        // A numbered name taken since it was chosen: the next free one.
        for (int attempt = 0; numbered && !copied && copied.error().kind == ErrorKind::Exists && attempt < 100;
             ++attempt) {
            dest = NumberedFreeName(plainDest);
            copied = viewer::CopyFileAs(source, dest, false);
        }
        if (!copied) {
            dialogs.ShowMessage(kCopyErrorCaption, CopyFailedText(source, dest), MessageIcon::Warning,
                                MessageButtons::Ok);
            continue;
        }
        pasted.push_back(dest);
        if (cut) (void)::unlink(source.c_str());
    }
    return pasted;
}

}  // namespace quillix::gallery
