#include "container/wipe_report.h"

#include "common/paths.h"
#include "container/work_files.h"

#include <cstring>
#include <string>

namespace quillix::container {
namespace {

bool AsPlanned(const WipeOutcome& wipe)
{
    return wipe.ok() && !wipe.otherLinks;
}

std::string OtherLinks(const std::string& name, const std::string& held)
{
    return name + " has other hard links, which still hold " + held;
}

constexpr const char* kStopped = "stopped: the program was closing";
constexpr const char* kChanged = "another program opened or changed it meanwhile";
constexpr const char* kOnlyThisName = ": only this name was removed, nothing was overwritten";

int FailureOf(const WipeOutcome& wipe)
{
    return wipe.error != 0 ? wipe.error : wipe.passes.error;
}

// Why the wipe failed: the system's error, the file changed under it, or the stop; empty when
// there is none of these. A failure without an errno never shows strerror(0) ("Success").
std::string Why(const WipeOutcome& wipe)
{
    const int error = FailureOf(wipe);
    if (error != 0) return std::strerror(error);
    if (wipe.changed) return kChanged;
    if (wipe.passes.stopped) return kStopped;
    return {};
}

// " (why)", or nothing when there is no reason to give.
std::string InBrackets(const std::string& why)
{
    return why.empty() ? std::string() : " (" + why + ")";
}

std::string KeptAs(const std::string& kept)
{
    return "what is left is kept as " + kept;
}

}  // namespace

std::string WipeWarning(const std::string& path, const WipeOutcome& wipe, const std::string& held)
{
    const std::string name = FileNameOf(path);
    if (AsPlanned(wipe)) return {};
    if (wipe.ok()) return OtherLinks(name, held) + kOnlyThisName + ".";

    const bool stopped = wipe.passes.stopped && FailureOf(wipe) == 0 && !wipe.changed;
    const std::string why = InBrackets(Why(wipe));
    std::string text = "Secure overwrite failed.\n\n";
    if (wipe.otherLinks)
        return text + OtherLinks(name, held) + "; it was not overwritten, and this name could not be removed" + why +
               ".";
    if (wipe.keptAs == path) return text + name + " was not overwritten and is still there" + why + ".";
    if (wipe.keptAs.empty()) return text + name + " was moved away by another program and was not overwritten.";
    const std::string kept = FileNameOf(wipe.keptAs);
    const std::string later = " The next encryption or decryption in this folder overwrites and removes it.";
    // Untouched, under a free name beside its own or, when none was had, still under the wipe name.
    if (wipe.changed)
        return text + name + " was not overwritten" + why + "; " + KeptAs(kept) + "." +
               (IsWorkFileName(kept) ? later : "");
    const OverwriteReport& passes = wipe.passes;
    const std::string moved = name + " no longer has its name: it was moved to " + kept;
    const std::string overwritten = " and overwritten completely " + std::to_string(passes.passesDone) + " of " +
                                    std::to_string(passes.passesWanted) + " times";
    if (stopped) return text + moved + overwritten + " before the program closed." + later;
    if (passes.complete())
        return text + name + " was overwritten " + std::to_string(passes.passesDone) +
               " times but could not be removed" + why + "; " + KeptAs(kept) + "." + later;
    text += moved;
    if (passes.passesDone > 0) text += overwritten;
    return text + "; pass " + std::to_string(passes.passesDone + 1) + " stopped after " +
           std::to_string(passes.failedAt) + " of its " + std::to_string(passes.fileLength) + " bytes" + why + "." +
           later;
}

std::string WipeNote(const std::string& name, const WipeOutcome& wipe)
{
    if (AsPlanned(wipe)) return {};
    if (wipe.ok()) return OtherLinks(name, "the picture") + kOnlyThisName;
    std::string note = name + ": the secure overwrite failed";
    note += InBrackets(Why(wipe));
    if (!wipe.keptAs.empty() && wipe.keptAs != FolderOf(wipe.keptAs) + name)
        note += "; " + KeptAs(FileNameOf(wipe.keptAs));
    return note;
}

}  // namespace quillix::container
