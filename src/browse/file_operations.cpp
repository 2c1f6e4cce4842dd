#include "browse/file_operations.h"

#include "browse/file_commands.h"
#include "browse/summary_notice.h"
#include "common/paths.h"
#include "common/text.h"
#include "common/unique_fd.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace quillix::browse {
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

// True when the two files hold the same bytes: a cut's copy that was read back complete.
bool SameBytes(const std::string& a, const std::string& b)
{
    const UniqueFd first = OpenFile(a, O_RDONLY | O_NONBLOCK);
    const UniqueFd second = OpenFile(b, O_RDONLY | O_NONBLOCK);
    struct stat sa {
    }, sb{};
    if (!first || !second || ::fstat(first.get(), &sa) != 0 || ::fstat(second.get(), &sb) != 0 ||
        sa.st_size != sb.st_size)
        return false;
    std::vector<std::uint8_t> mine(256 * 1024), theirs(mine.size());
    for (std::uint64_t done = 0;; done += mine.size()) {
        const long long got = ReadAt(first.get(), mine, done);
        if (got < 0 || ReadAt(second.get(), std::span(theirs).first(static_cast<std::size_t>(got)), done) != got)
            return false;
        if (!std::equal(mine.begin(), mine.begin() + got, theirs.begin())) return false;
        if (got < static_cast<long long>(mine.size())) return true;
    }
}

}  // namespace

bool RenameOneFile(const std::string& path, Dialogs& dialogs, std::vector<std::string>& reselectNames,
                   const container::NameChangeKey& key)
{
    reselectNames.clear();
    if (path.empty()) return false;
    const std::optional<std::string> answer = dialogs.InputText("Rename", "New filename:", FileNameOf(path));
    if (!answer) return false;
    const RenamePlan plan = PlanRename(path, *answer);
    switch (plan.action) {
    case RenamePlan::Action::Nothing: return false;
    case RenamePlan::Action::Exists:
        dialogs.ShowMessage("Rename", kFileExistsText, MessageIcon::Warning, MessageButtons::Ok);
        return false;
    case RenamePlan::Action::Invalid: break;
    case RenamePlan::Action::Rename: {
        const Result<container::NameChange> renamed = RenameFileAs(path, plan.newPath, key);
        if (renamed) {
            reselectNames.push_back(plan.newPath);
            if (!renamed.value().warning.empty())
                dialogs.ShowMessage("Rename", renamed.value().warning, MessageIcon::Warning, MessageButtons::Ok);
            return true;
        }
        if (renamed.error().kind == ErrorKind::Exists) {
            dialogs.ShowMessage("Rename", kFileExistsText, MessageIcon::Warning, MessageButtons::Ok);
            return false;
        }
        if (container::IsRefusedNameChange(renamed.error())) {
            dialogs.ShowMessage("Rename", RefusedNameChangeText(path, "renamed", renamed.error()), MessageIcon::Warning,
                                MessageButtons::Ok);
            return false;
        }
        break;
    }
    }
    dialogs.ShowMessage("Error", kRenameFailedText, MessageIcon::Error, MessageButtons::Ok);
    return false;
}

std::string BatchRenameTarget(const std::string& path, const std::string& prefix, int k)
{
    char number[16];
    std::snprintf(number, sizeof number, "%03d", k + 1);
    const std::size_t dot = ExtensionStart(path);
    const std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
    const std::string mark = FileNameOf(path).starts_with('$') ? "$" : "";
    return FolderOf(path) + mark + prefix + number + extension;
}

bool BatchRename(const std::vector<std::string>& paths, Dialogs& dialogs, std::vector<std::string>& reselectNames,
                 const container::NameChangeKey& key)
{
    reselectNames.clear();
    if (paths.empty()) return false;
    const std::optional<std::string> answer = dialogs.InputText("Batch Rename", "Prefix:", "img");
    if (!answer) return false;
    const std::string prefix = TrimBlanksAndControls(*answer);
    // A prefix with a "/" would move the files into another folder.
    if (prefix.find('/') != std::string::npos) {
        dialogs.ShowMessage("Error", kRenameFailedText, MessageIcon::Error, MessageButtons::Ok);
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
    std::vector<std::string> notes;
    for (std::size_t k = 0; k < paths.size(); ++k) {
        const Result<container::NameChange> renamed = RenameFileAs(paths[k], targets[k], key);
        if (renamed && !renamed.value().warning.empty()) notes.push_back(renamed.value().warning);
        if (renamed) continue;
        // It keeps its name, and stays selected under it.
        reselectNames[k] = paths[k];
        notes.push_back(FileNameOf(paths[k]) + ": " + renamed.error().message);
    }
    if (const std::optional<BatchNotice> summary = SummaryNotice("Batch Rename", notes))
        dialogs.ShowMessage(summary->caption, summary->text, MessageIcon::Warning, MessageButtons::Ok);
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
                                    Dialogs& dialogs, const std::function<bool()>& shiftHeld,
                                    const container::NameChangeKey& key)
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
        if (numbered && container::IsContainerFile(source)) {
            // Under a new plain name a container may need a new key; a cut is completed by the
            // name change itself, once the new container opens.
            const container::NameChangeMode mode =
                cut ? container::NameChangeMode::Move : container::NameChangeMode::Copy;
            Result<container::NameChange> given = container::GiveContainerName(source, dest, key, mode);
            for (int attempt = 0; !given && given.error().kind == ErrorKind::Exists && attempt < 100; ++attempt) {
                dest = NumberedFreeName(plainDest);
                given = container::GiveContainerName(source, dest, key, mode);
            }
            if (!given) {
                std::string text = CopyFailedText(source, dest);
                if (container::IsRefusedNameChange(given.error()))
                    text += "\n\n" + RefusedNameChangeText(source, "copied", given.error());
                dialogs.ShowMessage(kCopyErrorCaption, text, MessageIcon::Warning, MessageButtons::Ok);
                continue;
            }
            pasted.push_back(dest);
            if (!given.value().warning.empty())
                dialogs.ShowMessage("Warning", given.value().warning, MessageIcon::Warning, MessageButtons::Ok);
            continue;
        }
        Result<void> copied = CopyFileAs(source, dest, replace);
        // A numbered name taken since it was chosen: the next free one.
        for (int attempt = 0; numbered && !copied && copied.error().kind == ErrorKind::Exists && attempt < 100;
             ++attempt) {
            dest = NumberedFreeName(plainDest);
            copied = CopyFileAs(source, dest, false);
        }
        if (!copied) {
            dialogs.ShowMessage(kCopyErrorCaption, CopyFailedText(source, dest), MessageIcon::Warning,
                                MessageButtons::Ok);
            continue;
        }
        pasted.push_back(dest);
        if (!cut) continue;
        if (SameBytes(source, dest))
            (void)::unlink(source.c_str());
        else
            dialogs.ShowMessage(kCopyErrorCaption,
                                CopyFailedText(source, dest) +
                                    "\n\nThe copy does not hold what the source holds now, so the source was kept.",
                                MessageIcon::Warning, MessageButtons::Ok);
    }
    return pasted;
}

}  // namespace quillix::browse
