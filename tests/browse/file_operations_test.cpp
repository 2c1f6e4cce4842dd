#include "browse/file_operations.h"

#include "support/containers.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/unwritable_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <optional>

namespace quillix::browse {
namespace {

using quillix::test::ReadText;
using quillix::test::ScriptedDialogs;
using quillix::test::TempDir;
using quillix::test::WriteFile;
using Names = std::set<std::string>;

constexpr const char* kPassword = "hunter2";
constexpr const char* kTypePasswordFirst = "type the password first (Ctrl+Shift+P)";

container::NameChangeKey NoPassword()
{
    return {};
}

container::NameChangeKey KeyOf(const std::string& password, bool fileNamePW = true)
{
    return {password, fileNamePW, nullptr};
}

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
        EXPECT_EQ(RenameOneFile(dir / "a.jpg", dialogs, reselect, NoPassword()), row.renamed) << row.what;
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

std::string Shown(const ScriptedDialogs& dialogs)
{
    std::string shown;
    for (const auto& m : dialogs.messages)
        shown += m.caption + ": " + m.text + "\n";
    return shown;
}

// F2 on a container, for both ways it can have been made and both settings now.
TEST(RenameOneFileTest, AContainerStillOpensUnderItsNewNameOrKeepsItsOwn)
{
    struct Row {
        const char* what;
        bool withName;  // how the container was made
        const char* password;
        bool fileNamePW;  // the setting now
        const char* answer;
        const char* renamedTo;  // nullptr: refused
    };
    const Row rows[] = {
        {"name in key", true, kPassword, true, "b.jpg", "$b.jpg"},
        {"name in key, setting off since", true, kPassword, false, "$b.jpg", "$b.jpg"},
        {"name not in key", false, kPassword, false, "b.jpg", "$b.jpg"},
        {"name not in key, setting on since", false, kPassword, true, "b.jpg", "$b.jpg"},
        {"no password", true, "", true, "b.jpg", nullptr},
        {"no password, name not in key", false, "", false, "b.jpg", nullptr},
        {"wrong password", true, "hunter3", true, "b.jpg", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::vector<std::uint8_t> picture = test::PseudoRandomBytes(10000);
        const std::string container = test::MakeContainer(dir.path(), "a.jpg", picture, kPassword, row.withName);
        const std::vector<std::uint8_t> before = test::ReadFile(container);
        ScriptedDialogs dialogs;
        dialogs.inputs = {std::string(row.answer)};
        std::vector<std::string> reselect;
        const bool renamed = RenameOneFile(container, dialogs, reselect, KeyOf(row.password, row.fileNamePW));
        EXPECT_EQ(dialogs.inputsAsked.at(0).initial, "$a.jpg");
        if (row.renamedTo) {
            ASSERT_TRUE(renamed) << Shown(dialogs);
            EXPECT_EQ(quillix::test::FileNames(dir), Names{row.renamedTo});
            EXPECT_EQ(reselect, std::vector<std::string>{dir / row.renamedTo});
            EXPECT_EQ(test::OpenedBytes(dir / row.renamedTo, kPassword, row.withName), picture);
            EXPECT_TRUE(test::HasOldTime(dir / row.renamedTo));
            EXPECT_TRUE(dialogs.messages.empty()) << Shown(dialogs);
        } else {
            EXPECT_FALSE(renamed);
            EXPECT_EQ(quillix::test::FileNames(dir), Names{"$a.jpg"});
            EXPECT_EQ(test::ReadFile(container), before);
            ASSERT_EQ(dialogs.messages.size(), 1u);
            EXPECT_EQ(dialogs.messages[0].caption, "Rename");
            EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
            EXPECT_EQ(dialogs.messages[0].text.rfind("$a.jpg was not renamed: it is encrypted", 0), 0u)
                << dialogs.messages[0].text;
            EXPECT_NE(dialogs.messages[0].text.find(kTypePasswordFirst), std::string::npos);
        }
    }

    // A taken name is told as before, and "$" comes back before the check.
    TempDir dir;
    const std::string container = test::MakeContainer(dir.path(), "a.jpg", {1, 2, 3}, kPassword, true);
    WriteFile(dir / "$c.jpg", std::string("c"));
    WriteFile(dir / "c.jpg", std::string("plain c"));
    ScriptedDialogs dialogs;
    dialogs.inputs = {std::string("c.jpg")};
    std::vector<std::string> reselect;
    EXPECT_FALSE(RenameOneFile(container, dialogs, reselect, KeyOf(kPassword)));
    EXPECT_EQ(Shown(dialogs), "Rename: File already exists.\n");
    EXPECT_EQ(quillix::test::FileNames(dir), (Names{"$a.jpg", "$c.jpg", "c.jpg"}));
}

// Ctrl+A, F2 over containers of both kinds, one the password does not open, and a plain file.
TEST(BatchRenameTest, RefusedContainersKeepTheirNamesTheOthersGoOnAndTheSummaryListsThem)
{
    for (const bool fileNamePW : {true, false}) {
        SCOPED_TRACE(fileNamePW ? "Password+FileName on" : "Password+FileName off");
        TempDir dir;
        const std::vector<std::uint8_t> a = test::PseudoRandomBytes(9000, 1), d = test::PseudoRandomBytes(9000, 4);
        test::MakeContainer(dir.path(), "a.jpg", a, kPassword, true);
        WriteFile(dir / "b.png", std::string("plain"));
        test::MakeContainer(dir.path(), "c.jpg", {1, 2, 3}, "another password", true);
        test::MakeContainer(dir.path(), "d.gif", d, kPassword, false);
        const std::vector<std::uint8_t> c = test::ReadFile(dir / "$c.jpg");
        ScriptedDialogs dialogs;
        dialogs.inputs = {std::string("pic")};
        std::vector<std::string> reselect;
        ASSERT_TRUE(BatchRename({dir / "$a.jpg", dir / "b.png", dir / "$c.jpg", dir / "$d.gif"}, dialogs, reselect,
                                KeyOf(kPassword, fileNamePW)));
        EXPECT_EQ(quillix::test::FileNames(dir), (Names{"$pic001.jpg", "pic002.png", "$c.jpg", "$pic004.gif"}));
        EXPECT_EQ(test::OpenedBytes(dir / "$pic001.jpg", kPassword, true), a);
        EXPECT_EQ(test::OpenedBytes(dir / "$pic004.gif", kPassword, false), d);
        EXPECT_EQ(test::ReadFile(dir / "$c.jpg"), c);
        EXPECT_EQ(reselect, (std::vector<std::string>{dir / "$pic001.jpg", dir / "pic002.png", dir / "$c.jpg",
                                                      dir / "$pic004.gif"}));
        ASSERT_EQ(dialogs.messages.size(), 1u) << Shown(dialogs);
        EXPECT_EQ(dialogs.messages[0].caption, "Batch Rename");
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(dialogs.messages[0].text.rfind("1 file was not done as asked:\n\n$c.jpg: it is encrypted", 0), 0u)
            << dialogs.messages[0].text;
        EXPECT_NE(dialogs.messages[0].text.find(kTypePasswordFirst), std::string::npos);

        // Without a password every container whose name would change keeps it.
        dialogs.messages.clear();
        dialogs.inputs = {std::string("x")};
        ASSERT_TRUE(BatchRename({dir / "$pic001.jpg", dir / "pic002.png", dir / "$pic004.gif"}, dialogs, reselect,
                                NoPassword()));
        EXPECT_EQ(quillix::test::FileNames(dir), (Names{"$pic001.jpg", "x002.png", "$c.jpg", "$pic004.gif"}));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text.rfind("2 files were not done as asked:\n\n$pic001.jpg: ", 0), 0u);
        EXPECT_NE(dialogs.messages[0].text.find("\n$pic004.gif: "), std::string::npos);
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
    ASSERT_TRUE(BatchRename({dir / "y.jpg", dir / "z.PNG", dir / "x.gif"}, dialogs, reselect, NoPassword()));
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
    EXPECT_FALSE(BatchRename({dir / "a.jpg", dir / "b.jpg", dir / "c.jpg"}, dialogs, reselect, NoPassword()));
    EXPECT_EQ(quillix::test::FileNames(dir), (Names{"a.jpg", "b.jpg", "c.jpg", "p002.jpg"}));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].caption, "Batch Rename");
    EXPECT_EQ(dialogs.messages[0].text, "Target file already exists:\n" + (dir / "p002.jpg"));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
}

TEST(BatchRenameTest, NamesAndLimits)
{
    EXPECT_EQ(BatchRenameTarget("/f/$a.jpg", "pic", 0), "/f/$pic001.jpg") << "a \"$\" name stays one";
    EXPECT_EQ(BatchRenameTarget("/f/$a.jpg", "", 0), "/f/$001.jpg");
    EXPECT_EQ(BatchRenameTarget("/f/noext", "", 41), "/f/042");
    EXPECT_EQ(BatchRenameTarget("/f/.hidden", "h", 999), "/f/h1000");
    EXPECT_EQ(BatchRenameTarget("/f.d/a.tar.gz", "x", 1), "/f.d/x002.gz");

    TempDir dir;
    WriteFile(dir / "a.jpg", std::string("a"));
    ScriptedDialogs dialogs;
    std::vector<std::string> reselect;
    EXPECT_FALSE(BatchRename({dir / "a.jpg"}, dialogs, reselect, NoPassword())) << "cancelled";
    dialogs.inputs = {std::string("../elsewhere")};
    EXPECT_FALSE(BatchRename({dir / "a.jpg"}, dialogs, reselect, NoPassword())) << "a prefix may not leave the folder";
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

    // The password a paste works with; none by default.
    std::string password;
    bool fileNamePW = true;

    std::vector<std::string> Paste(const std::vector<std::string>& names, bool cut, const std::string& target)
    {
        std::vector<std::string> sources;
        for (const std::string& name : names)
            sources.push_back(from / name);
        return PasteFiles(
            sources, cut, target, dialogs,
            [this] {
                ++shiftReads;
                if (shift.empty()) return false;
                const bool held = shift.front();
                shift.pop_front();
                return held;
            },
            KeyOf(password, fileNamePW));
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
    test::SetOldTime(rig.from / "a.jpg");
    EXPECT_EQ(rig.Paste({"a.jpg", "b.jpg"}, false, rig.to.path()),
              (std::vector<std::string>{rig.to / "a.jpg", rig.to / "b.jpg"}));
    EXPECT_EQ(ReadText(rig.to / "b.jpg"), "B");
    EXPECT_TRUE(Exists(rig.from / "a.jpg"));
    EXPECT_TRUE(test::HasOldTime(rig.to / "a.jpg")) << "a paste keeps the source's date";

    TempDir third;
    EXPECT_EQ(rig.Paste({"a.jpg", "b.jpg"}, true, third.path() + "/"),
              (std::vector<std::string>{third / "a.jpg", third / "b.jpg"}));
    EXPECT_EQ(quillix::test::FileNames(rig.from), Names{});
    EXPECT_EQ(ReadText(third / "a.jpg"), "A");
    EXPECT_TRUE(test::HasOldTime(third / "a.jpg"));
    EXPECT_TRUE(rig.dialogs.messages.empty());
    EXPECT_EQ(rig.shiftReads, 0);

    // The clipboard still lists the moved files: a second paste finds nothing to copy.
    TempDir fourth;
    EXPECT_TRUE(rig.Paste({"a.jpg", "b.jpg"}, true, fourth.path()).empty());
    EXPECT_EQ(rig.Captions(), (std::vector<std::string>{"Copy error", "Copy error"}));
    EXPECT_EQ(quillix::test::FileNames(fourth), Names{});
}

// Cut in one window, paste in another where the name is taken, "No": the numbered copy of a
// container must open under its new name before the source goes.
TEST(PasteTest, AContainerUnderANumberedNameStillOpensBeforeItsSourceGoes)
{
    struct Row {
        const char* what;
        bool withName;
        bool fileNamePW;
        const char* password;
        bool copied;
    };
    const Row rows[] = {
        {"name in key", true, true, kPassword, true},
        {"name in key, setting off since", true, false, kPassword, true},
        {"name not in key", false, false, kPassword, true},
        {"no password", true, true, "", false},
        {"wrong password", false, false, "hunter3", false},
    };
    for (const Row& row : rows) {
        for (const bool cut : {true, false}) {
            SCOPED_TRACE(std::string(row.what) + (cut ? ", cut" : ", copy"));
            PasteRig rig;
            const std::vector<std::uint8_t> picture = test::PseudoRandomBytes(12000);
            test::MakeContainer(rig.from.path(), "a.jpg", picture, kPassword, row.withName);
            const std::vector<std::uint8_t> source = test::ReadFile(rig.from / "$a.jpg");
            WriteFile(rig.to / "$a.jpg", std::string("another picture"));
            rig.password = row.password;
            rig.fileNamePW = row.fileNamePW;
            rig.dialogs.answers = {MessageAnswer::No};
            const std::vector<std::string> pasted = rig.Paste({"$a.jpg"}, cut, rig.to.path());
            EXPECT_EQ(test::ReadText(rig.to / "$a.jpg"), "another picture");
            if (row.copied) {
                EXPECT_EQ(pasted, std::vector<std::string>{rig.to / "$a2.jpg"});
                EXPECT_EQ(test::OpenedBytes(rig.to / "$a2.jpg", kPassword, row.withName), picture);
                EXPECT_TRUE(test::HasOldTime(rig.to / "$a2.jpg"));
                EXPECT_EQ(rig.Captions(), std::vector<std::string>{"File exists"});
                EXPECT_EQ(quillix::test::FileNames(rig.from), cut ? Names{} : Names{"$a.jpg"});
            } else {
                EXPECT_TRUE(pasted.empty());
                EXPECT_EQ(rig.Captions(), (std::vector<std::string>{"File exists", "Copy error"}));
                const std::string& text = rig.dialogs.messages.at(1).text;
                EXPECT_EQ(text.rfind(CopyFailedText(rig.from / "$a.jpg", rig.to / "$a2.jpg") +
                                         "\n\n$a.jpg was not copied: it is encrypted",
                                     0),
                          0u)
                    << text;
                EXPECT_NE(text.find(kTypePasswordFirst), std::string::npos);
                EXPECT_EQ(quillix::test::FileNames(rig.to), Names{"$a.jpg"});
                EXPECT_EQ(test::ReadFile(rig.from / "$a.jpg"), source) << "the source stays";
            }
        }
    }
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
    test::SetOldTime(rig.from / "c.jpg");
    rig.dialogs.answers = {MessageAnswer::Yes};
    rig.shift = {true};
    EXPECT_EQ(rig.Paste({"a.jpg", "b.jpg", "c.jpg"}, false, rig.to.path()).size(), 3u);
    EXPECT_EQ(rig.dialogs.messages.size(), 1u);
    EXPECT_TRUE(test::HasOldTime(rig.to / "c.jpg")) << "a replacing copy keeps the source's date too";
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
}  // namespace quillix::browse
