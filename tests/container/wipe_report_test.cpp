#include "container/wipe_report.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace quillix::container {
namespace {

WipeOutcome Removed(int passes)
{
    WipeOutcome wipe;
    wipe.removed = true;
    wipe.passes.passesWanted = wipe.passes.passesDone = passes;
    return wipe;
}

// Every way a wipe can end, in both places the user is told about it: the message box after an
// in-place operation and the batch summary line. The two forms share their words.
TEST(WipeReport, BoxAndSummaryLine)
{
    const std::string eio = std::strerror(EIO);
    const std::string eacces = std::strerror(EACCES);
    WipeOutcome linked = Removed(0);
    linked.otherLinks = true;
    WipeOutcome linkedStuck = linked;
    linkedStuck.removed = false;
    linkedStuck.error = EACCES;
    linkedStuck.keptAs = "/d/a.jpg";
    WipeOutcome untouched;
    untouched.error = EACCES;
    untouched.keptAs = "/d/a.jpg";
    WipeOutcome movedAway;
    movedAway.error = ENOENT;
    WipeOutcome stopped;
    stopped.keptAs = "/d/.quillix-0123456789abcdef.wipe";
    stopped.passes = {.passesWanted = 3, .passesDone = 1, .stopped = true};
    WipeOutcome notRemoved = Removed(2);
    notRemoved.removed = false;
    notRemoved.error = EACCES;
    notRemoved.keptAs = stopped.keptAs;
    WipeOutcome passFailed;
    passFailed.keptAs = stopped.keptAs;
    passFailed.passes = {.passesWanted = 3, .passesDone = 1, .fileLength = 5000, .failedAt = 4096, .error = EIO};
    WipeOutcome firstPassFailed = passFailed;
    firstPassFailed.passes.passesDone = 0;
    // Changed meanwhile: no errno to tell, and never "(Success)".
    WipeOutcome changed;
    changed.changed = true;
    changed.keptAs = "/d/a.jpg";
    changed.passes.passesWanted = 3;
    WipeOutcome changedBeside = changed;
    changedBeside.keptAs = "/d/a (2).jpg";
    WipeOutcome changedAside = changed;
    changedAside.keptAs = stopped.keptAs;

    const std::string box = "Secure overwrite failed.\n\n";
    const std::string later = " The next encryption or decryption in this folder overwrites and removes it.";
    struct Row {
        const char* what;
        WipeOutcome wipe;
        std::string warning;
        std::string note;
    };
    const Row rows[] = {
        {"as planned", Removed(3), "", ""},
        {"other hard links", linked,
         "a.jpg has other hard links, which still hold the plain picture: only this name was removed, nothing was "
         "overwritten.",
         "a.jpg has other hard links, which still hold the picture: only this name was removed, nothing was "
         "overwritten"},
        {"other hard links, name kept", linkedStuck,
         box +
             "a.jpg has other hard links, which still hold the plain picture; it was not overwritten, and this name "
             "could not be removed (" +
             eacces + ").",
         "a.jpg: the secure overwrite failed (" + eacces + ")"},
        {"not opened for writing", untouched, box + "a.jpg was not overwritten and is still there (" + eacces + ").",
         "a.jpg: the secure overwrite failed (" + eacces + ")"},
        {"moved away", movedAway, box + "a.jpg was moved away by another program and was not overwritten.",
         "a.jpg: the secure overwrite failed (" + std::string(std::strerror(ENOENT)) + ")"},
        {"stopped", stopped,
         box +
             "a.jpg no longer has its name: it was moved to .quillix-0123456789abcdef.wipe and overwritten "
             "completely 1 of 3 times before the program closed." +
             later,
         "a.jpg: the secure overwrite failed (stopped: the program was closing); what is left is kept as "
         ".quillix-0123456789abcdef.wipe"},
        {"overwritten, not removed", notRemoved,
         box + "a.jpg was overwritten 2 times but could not be removed (" + eacces +
             "); what is left is kept as .quillix-0123456789abcdef.wipe." + later,
         "a.jpg: the secure overwrite failed (" + eacces + "); what is left is kept as .quillix-0123456789abcdef.wipe"},
        {"a later pass failed", passFailed,
         box +
             "a.jpg no longer has its name: it was moved to .quillix-0123456789abcdef.wipe and overwritten "
             "completely 1 of 3 times; pass 2 stopped after 4096 of its 5000 bytes (" +
             eio + ")." + later,
         "a.jpg: the secure overwrite failed (" + eio + "); what is left is kept as .quillix-0123456789abcdef.wipe"},
        {"the first pass failed", firstPassFailed,
         box +
             "a.jpg no longer has its name: it was moved to .quillix-0123456789abcdef.wipe; pass 1 stopped after "
             "4096 of its 5000 bytes (" +
             eio + ")." + later,
         "a.jpg: the secure overwrite failed (" + eio + "); what is left is kept as .quillix-0123456789abcdef.wipe"},
        {"changed meanwhile", changed,
         box + "a.jpg was not overwritten and is still there (another program opened or changed it meanwhile).",
         "a.jpg: the secure overwrite failed (another program opened or changed it meanwhile)"},
        {"changed, its name taken", changedBeside,
         box + "a.jpg was not overwritten (another program opened or changed it meanwhile); what is left is kept as "
               "a (2).jpg.",
         "a.jpg: the secure overwrite failed (another program opened or changed it meanwhile); what is left is kept "
         "as a (2).jpg"},
        {"changed, left under the wipe name", changedAside,
         box +
             "a.jpg was not overwritten (another program opened or changed it meanwhile); what is left is kept as "
             ".quillix-0123456789abcdef.wipe." +
             later,
         "a.jpg: the secure overwrite failed (another program opened or changed it meanwhile); what is left is kept "
         "as .quillix-0123456789abcdef.wipe"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(WipeWarning("/d/a.jpg", row.wipe, "the plain picture"), row.warning) << row.what;
        EXPECT_EQ(WipeNote("a.jpg", row.wipe), row.note) << row.what;
        EXPECT_EQ(WipeWarning("/d/a.jpg", row.wipe, "the plain picture").find(std::strerror(0)), std::string::npos)
            << row.what;
    }
}

}  // namespace
}  // namespace quillix::container
