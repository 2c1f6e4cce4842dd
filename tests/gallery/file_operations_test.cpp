#include "gallery/file_operations.h"

#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/unwritable_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <optional>

namespace quillix::gallery {
namespace {

using quillix::test::ReadText;
using quillix::test::ScriptedDialogs;
using quillix::test::TempDir;
using quillix::test::WriteFile;
using Names = std::set<std::string>;

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(RenameOneFileTest, AnswersAndTheirOutcomes)
{
    struct Row {
        const char* what;
        std::optional<std::string> answer;
        bool renamed;
        Names after;
        std::vector<std::string> messages;  // caption: text
        const char* renamedTo;
    };
    const Row rows[] = {
        {"cancelled", std::nullopt, false, {"a.jpg", "b.jpg"}, {}, nullptr},
        {"same name", "a.jpg", false, {"a.jpg", "b.jpg"}, {}, nullptr},
        {"blank", "   ", false, {"a.jpg", "b.jpg"}, {}, nullptr},
        {"taken", "b.jpg", false, {"a.jpg", "b.jpg"}, {"Rename: File already exists."}, nullptr},
        {"a path", "sub/c.jpg", false, {"a.jpg", "b.jpg"}, {"Error: Rename failed."}, nullptr},
        {"new name, trimmed", "  c.jpg ", true, {"b.jpg", "c.jpg"}, {}, "c.jpg"},
        {"case only", "A.jpg", true, {"A.jpg", "b.jpg"}, {}, "A.jpg"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        WriteFile(dir / "a.jpg", std::string("a"));
        WriteFile(dir / "b.jpg", std::string("b"));
        ScriptedDialogs dialogs;
        dialogs.inputs = {row.answer};
        std::vector<std::string> reselect{"stale"};
        EXPECT_EQ(RenameOneFile(dir / "a.jpg", dialogs, reselect), row.renamed) << row.what;
        EXPECT_EQ(quillix::test::FileNames(dir), row.after) << row.what;
        std::vector<std::string> shown;
        for (const auto& m : dialogs.messages)
            shown.push_back(m.caption + ": " + m.text);
        EXPECT_EQ(shown, row.messages) << row.what;
        ASSERT_EQ(dialogs.inputsAsked.size(), 1u);
        EXPECT_EQ(dialogs.inputsAsked[0].caption, "Rename");
        EXPECT_EQ(dialogs.inputsAsked[0].prompt, "New filename:");
        EXPECT_EQ(dialogs.inputsAsked[0].initial, "a.jpg");
        if (row.renamedTo)
            EXPECT_EQ(reselect, std::vector<std::string>{dir / row.renamedTo}) << row.what;
        else
            EXPECT_TRUE(reselect.empty()) << row.what;
    }
}

TEST(BatchRenameTest, NumbersInSelectionOrderKeepingEachExtension)
{
    TempDir dir;
    for (const char* name : {"x.gif", "y.jpg", "z.PNG"})
        WriteFile(dir / name, std::string(name));
    ScriptedDialogs dialogs;
    dialogs.inputs = {std::string(" img ")};
    std::vector<std::string> reselect;
    ASSERT_TRUE(BatchRename({dir / "y.jpg", dir / "z.PNG", dir / "x.gif"}, dialogs, reselect));
    EXPECT_EQ(quillix::test::FileNames(dir), (Names{"img001.jpg", "img002.PNG", "img003.gif"}));
    EXPECT_EQ(ReadText(dir / "img003.gif"), "x.gif");
    EXPECT_EQ(reselect, (std::vector<std::string>{dir / "img001.jpg", dir / "img002.PNG", dir / "img003.gif"}));
    ASSERT_EQ(dialogs.inputsAsked.size(), 1u);
    EXPECT_EQ(dialogs.inputsAsked[0].caption, "Batch Rename");
    EXPECT_EQ(dialogs.inputsAsked[0].prompt, "Prefix:");
    EXPECT_EQ(dialogs.inputsAsked[0].initial, "img");
}

TEST(BatchRenameTest, AnExistingTargetStopsTheWholeBatchBeforeTheFirstMove)
{
    TempDir dir;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "p002.jpg"})
        WriteFile(dir / name, std::string(name));
    ScriptedDialogs dialogs;
    dialogs.inputs = {std::string("p")};
    std::vector<std::string> reselect;
    EXPECT_FALSE(BatchRename({dir / "a.jpg", dir / "b.jpg", dir / "c.jpg"}, dialogs, reselect));
    EXPECT_EQ(quillix::test::FileNames(dir), (Names{"a.jpg", "b.jpg", "c.jpg", "p002.jpg"}));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].caption, "Batch Rename");
    EXPECT_EQ(dialogs.messages[0].text, "Target file already exists:\n" + (dir / "p002.jpg"));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
}

TEST(BatchRenameTest, NamesAndLimits)
{
    EXPECT_EQ(BatchRenameTarget("/f/$a.jpg", "img", 0), "/f/img001.jpg");
    EXPECT_EQ(BatchRenameTarget("/f/noext", "", 41), "/f/042");
    EXPECT_EQ(BatchRenameTarget("/f/.hidden", "h", 999), "/f/h1000");
    EXPECT_EQ(BatchRenameTarget("/f.d/a.tar.gz", "x", 1), "/f.d/x002.gz");

    TempDir dir;
    WriteFile(dir / "a.jpg", std::string("a"));
    ScriptedDialogs dialogs;
    std::vector<std::string> reselect;
    EXPECT_FALSE(BatchRename({dir / "a.jpg"}, dialogs, reselect)) << "cancelled";
    dialogs.inputs = {std::string("../elsewhere")};
    EXPECT_FALSE(BatchRename({dir / "a.jpg"}, dialogs, reselect)) << "a prefix may not leave the folder";
    EXPECT_EQ(quillix::test::FileNames(dir), Names{"a.jpg"});
}

TEST(PasteTest, TargetFolderAndFreeNumberedNames)
{
    EXPECT_EQ(PasteTargetFolder("/box", "/loaded/", "/cwd"), "/box/");
    EXPECT_EQ(PasteTargetFolder("", "/loaded", "/cwd"), "/loaded/");
    EXPECT_EQ(PasteTargetFolder("", "", "/cwd"), "/cwd/");

    TempDir dir;
    WriteFile(dir / "photo2.jpg", std::string());
    EXPECT_EQ(NumberedFreeName(dir / "photo.jpg"), dir / "photo3.jpg");
    EXPECT_EQ(NumberedFreeName(dir / "photo.png"), dir / "photo2.png");
    EXPECT_EQ(NumberedFreeName(dir / ".hidden"), dir / ".hidden2");
}

// A folder of sources and one to paste into, with dialog answers and Shift states scripted in
// the order they are asked for.
struct PasteRig {
    TempDir from;
    TempDir to;
    ScriptedDialogs dialogs;
    std::deque<bool> shift;
    int shiftReads = 0;

    std::vector<std::string> Paste(const std::vector<std::string>& names, bool cut, const std::string& target)
    {
        std::vector<std::string> sources;
        for (const std::string& name : names)
            sources.push_back(from / name);
        return PasteFiles(sources, cut, target, dialogs, [this] {
            ++shiftReads;
            if (shift.empty()) return false;
            const bool held = shift.front();
            shift.pop_front();
            return held;
        });
    }
    std::vector<std::string> Captions() const
    {
        std::vector<std::string> captions;
        for (const auto& m : dialogs.messages)
            captions.push_back(m.caption);
        return captions;
    }
};

TEST(PasteTest, CopiesAndCutsIntoAnotherFolder)
{
    PasteRig rig;
    WriteFile(rig.from / "a.jpg", std::string("A"));
    WriteFile(rig.from / "b.jpg", std::string("B"));
    EXPECT_EQ(rig.Paste({"a.jpg", "b.jpg"}, false, rig.to.path()),
              (std::vector<std::string>{rig.to / "a.jpg", rig.to / "b.jpg"}));
    EXPECT_EQ(ReadText(rig.to / "b.jpg"), "B");
    EXPECT_TRUE(Exists(rig.from / "a.jpg"));

    TempDir third;
    EXPECT_EQ(rig.Paste({"a.jpg", "b.jpg"}, true, third.path() + "/"),
              (std::vector<std::string>{third / "a.jpg", third / "b.jpg"}));
    EXPECT_EQ(quillix::test::FileNames(rig.from), Names{});
    EXPECT_EQ(ReadText(third / "a.jpg"), "A");
    EXPECT_TRUE(rig.dialogs.messages.empty());
    EXPECT_EQ(rig.shiftReads, 0);

    // The clipboard still lists the moved files: a second paste finds nothing to copy.
    TempDir fourth;
    EXPECT_TRUE(rig.Paste({"a.jpg", "b.jpg"}, true, fourth.path()).empty());
    EXPECT_EQ(rig.Captions(), (std::vector<std::string>{"Copy error", "Copy error"}));
    EXPECT_EQ(quillix::test::FileNames(fourth), Names{});
}

TEST(PasteTest, IntoTheSourceFolderNoNumbersAndYesIsRefused)
{
    PasteRig rig;
    WriteFile(rig.from / "a.jpg", std::string("A"));
    WriteFile(rig.from / "b.jpg", std::string("B"));
    WriteFile(rig.from / "b2.jpg", std::string("old"));
    rig.dialogs.answers = {MessageAnswer::No, MessageAnswer::No};
    EXPECT_EQ(rig.Paste({"a.jpg", "b.jpg"}, false, rig.from.path()),
              (std::vector<std::string>{rig.from / "a2.jpg", rig.from / "b3.jpg"}));
    EXPECT_EQ(ReadText(rig.from / "b3.jpg"), "B");
    EXPECT_EQ(ReadText(rig.from / "b2.jpg"), "old");
    ASSERT_EQ(rig.dialogs.messages.size(), 2u);
    EXPECT_EQ(rig.dialogs.messages[0].caption, "File exists");
    EXPECT_EQ(rig.dialogs.messages[0].text, "File already exists:\n\n" + (rig.from / "a.jpg") +
                                                "\n\nOverwrite?\n\nTip: Hold Shift while clicking Yes to overwrite "
                                                "all,\nor Shift+No to skip all remaining files.");
    EXPECT_EQ(rig.dialogs.messages[0].icon, MessageIcon::Question);
    EXPECT_EQ(rig.dialogs.messages[0].buttons, MessageButtons::YesNoCancel);

    // Yes would replace each file with itself; a cut would then delete the only copy.
    rig.dialogs.messages.clear();
    rig.dialogs.answers = {MessageAnswer::Yes, MessageAnswer::Ok, MessageAnswer::Yes};
    EXPECT_TRUE(rig.Paste({"a.jpg", "b.jpg"}, true, rig.from.path()).empty());
    EXPECT_EQ(rig.Captions(), (std::vector<std::string>{"File exists", "Copy error", "File exists", "Copy error"}));
    EXPECT_EQ(rig.dialogs.messages[1].text, CopyFailedText(rig.from / "a.jpg", rig.from / "a.jpg"));
    EXPECT_EQ(rig.dialogs.messages[1].icon, MessageIcon::Warning);
    EXPECT_EQ(ReadText(rig.from / "a.jpg"), "A");
    EXPECT_EQ(ReadText(rig.from / "b.jpg"), "B");
}

TEST(PasteTest, TheSameFileThroughALinkedFolderIsNeverReplacedNorDeleted)
{
    PasteRig rig;
    WriteFile(rig.from / "a.jpg", std::string("A"));
    std::filesystem::create_directory_symlink(rig.from.path(), rig.to / "link");
    rig.dialogs.answers = {MessageAnswer::Yes};
    EXPECT_TRUE(rig.Paste({"a.jpg"}, true, rig.to / "link/").empty());
    EXPECT_EQ(rig.Captions(), (std::vector<std::string>{"File exists", "Copy error"}));
    EXPECT_EQ(ReadText(rig.from / "a.jpg"), "A");

    // A hard link is the same file under another name too.
    ASSERT_EQ(::link((rig.from / "a.jpg").c_str(), (rig.to / "a.jpg").c_str()), 0);
    rig.dialogs.messages.clear();
    rig.dialogs.answers = {MessageAnswer::Yes};
    EXPECT_TRUE(rig.Paste({"a.jpg"}, true, rig.to.path()).empty());
    EXPECT_EQ(rig.Captions(), (std::vector<std::string>{"File exists", "Copy error"}));
    EXPECT_EQ(ReadText(rig.from / "a.jpg"), "A");
}

TEST(PasteTest, ShiftYesOverwritesEveryLaterConflictUnasked)
{
    PasteRig rig;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        WriteFile(rig.from / name, std::string("new ") + name);
        WriteFile(rig.to / name, std::string("old"));
    }
    rig.dialogs.answers = {MessageAnswer::Yes};
    rig.shift = {true};
    EXPECT_EQ(rig.Paste({"a.jpg", "b.jpg", "c.jpg"}, false, rig.to.path()).size(), 3u);
    EXPECT_EQ(rig.dialogs.messages.size(), 1u);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        EXPECT_EQ(ReadText(rig.to / name), std::string("new ") + name);
    EXPECT_EQ(quillix::test::FileNames(rig.to), (Names{"a.jpg", "b.jpg", "c.jpg"})) << "no temporary file left";
}

TEST(PasteTest, ShiftNoNumbersTheFirstAndSkipsLaterConflicts)
{
    PasteRig rig;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
        WriteFile(rig.from / name, std::string(name));
    for (const char* name : {"a.jpg", "b.jpg", "d.jpg"})
        WriteFile(rig.to / name, std::string("old"));
    rig.dialogs.answers = {MessageAnswer::No};
    rig.shift = {true};
    EXPECT_EQ(rig.Paste({"a.jpg", "b.jpg", "c.jpg", "d.jpg"}, true, rig.to.path()),
              (std::vector<std::string>{rig.to / "a2.jpg", rig.to / "c.jpg"}));
    EXPECT_EQ(rig.dialogs.messages.size(), 1u);
    EXPECT_EQ(ReadText(rig.to / "b.jpg"), "old");
    // Only the files that were copied lose their source.
    EXPECT_EQ(quillix::test::FileNames(rig.from), (Names{"b.jpg", "d.jpg"}));
}

TEST(PasteTest, CancelEndsThePasteKeepingTheCopiesMade)
{
    PasteRig rig;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        WriteFile(rig.from / name, std::string(name));
    WriteFile(rig.to / "b.jpg", std::string("old"));
    rig.dialogs.answers = {MessageAnswer::Cancel};
    EXPECT_EQ(rig.Paste({"a.jpg", "b.jpg", "c.jpg"}, true, rig.to.path()), std::vector<std::string>{rig.to / "a.jpg"});
    EXPECT_EQ(quillix::test::FileNames(rig.to), (Names{"a.jpg", "b.jpg"}));
    EXPECT_EQ(quillix::test::FileNames(rig.from), (Names{"b.jpg", "c.jpg"}));
}

TEST(PasteTest, AFolderThatTakesNoFileLosesNothing)
{
    // A folder removed since it was listed, and a folder without write permission (for root,
    // immutable as well).
    for (const bool readOnly : {false, true}) {
        PasteRig rig;
        WriteFile(rig.from / "a.jpg", std::string("A"));
        WriteFile(rig.from / "b.jpg", std::string("B"));
        std::string target = rig.to / "gone/";
        std::optional<quillix::test::UnwritableFolder> unwritable;
        if (readOnly) {
            target = rig.to.path() + "/";
            unwritable.emplace(rig.to.path());
            if (!unwritable->refusesWrites()) GTEST_SKIP() << "this file system lets root write anywhere";
        }
        EXPECT_TRUE(rig.Paste({"a.jpg", "b.jpg", "gone.jpg"}, true, target).empty());
        EXPECT_EQ(rig.Captions(), (std::vector<std::string>{"Copy error", "Copy error", "Copy error"}));
        EXPECT_EQ(rig.dialogs.messages[0].text, CopyFailedText(rig.from / "a.jpg", target + "a.jpg"));
        EXPECT_EQ(quillix::test::FileNames(rig.from), (Names{"a.jpg", "b.jpg"}));
        EXPECT_EQ(ReadText(rig.from / "b.jpg"), "B");
    }
}

}  // namespace
}  // namespace quillix::gallery
