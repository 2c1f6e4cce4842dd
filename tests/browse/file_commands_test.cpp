#include "browse/file_commands.h"

#include "support/containers.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "support/unwritable_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace quillix::browse {
namespace {

using test::FileNames;
using test::ReadFile;
using test::ReadText;
using test::TempDir;
using test::WriteFile;
using Names = std::set<std::string>;

constexpr const char* kPassword = "hunter2";

container::NameChangeKey NoPassword()
{
    return {};
}

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(UniqueTargetNameTest, CountsUpFromTheBareName)
{
    struct Case {
        std::vector<std::string> taken;
        std::string fileName;
        std::string expected;
    };
    const Case cases[] = {
        {{}, "photo.jpg", "photo.jpg"},
        {{"photo.jpg"}, "photo.jpg", "photo1.jpg"},
        {{"photo.jpg", "photo1.jpg"}, "photo.jpg", "photo2.jpg"},
        {{"photo.jpg", "photo2.jpg"}, "photo.jpg", "photo1.jpg"},
        {{"photo1.jpg"}, "photo.jpg", "photo.jpg"},
        {{"photo.JPG"}, "photo.jpg", "photo.jpg"},
        {{"README"}, "README", "README1"},
        {{"README", "README1"}, "README", "README2"},
        {{"a.b.jpg"}, "a.b.jpg", "a.b1.jpg"},
        {{"archive.tar.gz", "archive.tar1.gz"}, "archive.tar.gz", "archive.tar2.gz"},
        {{".hidden"}, ".hidden", ".hidden1"},
        {{".hidden.jpg"}, ".hidden.jpg", ".hidden1.jpg"},
        {{"name."}, "name.", "name1."},
        {{"photo.jpg", "photo1.jpg", "photo2.jpg", "photo3.jpg", "photo4.jpg", "photo5.jpg", "photo6.jpg", "photo7.jpg",
          "photo8.jpg", "photo9.jpg"},
         "photo.jpg",
         "photo10.jpg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName + " among " + std::to_string(c.taken.size()) + " taken");
        TempDir dir;
        for (const std::string& name : c.taken)
            WriteFile(dir / name, "x");
        EXPECT_EQ(UniqueTargetName(dir.path() + "/", c.fileName), dir / c.expected);
    }
}

TEST(UniqueTargetNameTest, AnyEntryTakesTheName)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "photo.jpg");
    std::filesystem::create_symlink(dir / "nowhere", dir / "photo1.jpg");
    EXPECT_EQ(UniqueTargetName(dir.path() + "/", "photo.jpg"), dir / "photo2.jpg");
    // A folder given without its final "/" still gets one.
    EXPECT_EQ(UniqueTargetName(dir.path(), "photo.jpg"), dir / "photo2.jpg");
}

TEST(CopyIntoFolderTest, CopiesTwiceUnderNumberedNamesWithTheSameBytesAndMode)
{
    TempDir from, to;
    const std::vector<std::uint8_t> bytes = test::PseudoRandomBytes(300000);
    const std::string source = from / "photo.jpg";
    WriteFile(source, bytes);
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    test::SetOldTime(source);

    const Result<std::string> first = CopyIntoFolder(source, to.path() + "/", false, NoPassword());
    ASSERT_TRUE(first.ok()) << first.error().message;
    const Result<std::string> second = CopyIntoFolder(source, to.path() + "/", false, NoPassword());
    ASSERT_TRUE(second.ok()) << second.error().message;

    EXPECT_EQ(first.value(), to / "photo.jpg");
    EXPECT_EQ(second.value(), to / "photo1.jpg");
    EXPECT_EQ(FileNames(to), (Names{"photo.jpg", "photo1.jpg"}));
    EXPECT_EQ(ReadFile(first.value()), bytes);
    EXPECT_EQ(ReadFile(second.value()), bytes);
    EXPECT_EQ(ModeOf(second.value()), 0640u);
    EXPECT_TRUE(test::HasOldTime(first.value())) << "a copy keeps the picture's date";
    EXPECT_TRUE(test::HasOldTime(second.value()));
    EXPECT_EQ(ReadFile(source), bytes);
}

// The second copy of a container gets a numbered name: under the name in its key it must still
// open, which needs the password.
TEST(CopyIntoFolderTest, ANumberedCopyOfAContainerStillOpens)
{
    struct Row {
        const char* what;
        bool withName;
        std::string password;
        bool copied;
    };
    const Row rows[] = {
        {"name in key", true, kPassword, true},
        {"name not in key", false, kPassword, true},
        {"no password", true, "", false},
        {"wrong password", false, "hunter3", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir from, to;
        const std::vector<std::uint8_t> picture = test::PseudoRandomBytes(20000);
        const std::string source = test::MakeContainer(from.path(), "a.jpg", picture, kPassword, row.withName);
        const container::NameChangeKey key{row.password, true, nullptr};

        const Result<std::string> first = CopyIntoFolder(source, to.path(), false, key);
        ASSERT_TRUE(first.ok()) << "the same name needs no password: " << first.error().message;
        EXPECT_EQ(ReadFile(first.value()), ReadFile(source));

        const Result<std::string> second = CopyIntoFolder(source, to.path(), true, key);
        EXPECT_EQ(second.ok(), row.copied);
        if (row.copied) {
            EXPECT_EQ(second.value(), to / "$a1.jpg");
            EXPECT_EQ(test::OpenedBytes(second.value(), kPassword, row.withName), picture);
            EXPECT_TRUE(test::HasOldTime(second.value()));
            EXPECT_EQ(FileNames(to), (Names{"$a.jpg", "$a1.jpg"}));
        } else {
            EXPECT_TRUE(container::IsRefusedNameChange(second.error()));
            EXPECT_NE(second.error().message.find(container::kTypePasswordFirst), std::string::npos);
            EXPECT_EQ(FileNames(to), (Names{"$a.jpg"}));
        }
        EXPECT_EQ(test::OpenedBytes(source, kPassword, row.withName), picture);
    }
}

TEST(CopyIntoFolderTest, CopiesEmptyAndReadOnlyFiles)
{
    TempDir from, to;
    WriteFile(from / "empty.png", "");
    WriteFile(from / "locked.png", "locked bytes");
    ASSERT_EQ(::chmod((from / "locked.png").c_str(), 0444), 0);

    const Result<std::string> empty = CopyIntoFolder(from / "empty.png", to.path() + "/", false, NoPassword());
    ASSERT_TRUE(empty.ok()) << empty.error().message;
    EXPECT_TRUE(ReadFile(empty.value()).empty());

    const Result<std::string> locked = CopyIntoFolder(from / "locked.png", to.path() + "/", false, NoPassword());
    ASSERT_TRUE(locked.ok()) << locked.error().message;
    EXPECT_EQ(ReadText(locked.value()), "locked bytes");
    EXPECT_EQ(ModeOf(locked.value()), 0444u);
    EXPECT_EQ(FileNames(to), (Names{"empty.png", "locked.png"}));
}

TEST(CopyIntoFolderTest, MissingFoldersAreCreatedOnlyWhenAsked)
{
    TempDir from, to;
    WriteFile(from / "photo.jpg", "picture");
    const std::string nested = to / "a/b/";

    const Result<std::string> refused = CopyIntoFolder(from / "photo.jpg", nested, false, NoPassword());
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, ErrorKind::Io);
    EXPECT_TRUE(FileNames(to).empty());

    const Result<std::string> made = CopyIntoFolder(from / "photo.jpg", nested, true, NoPassword());
    ASSERT_TRUE(made.ok()) << made.error().message;
    EXPECT_EQ(made.value(), nested + "photo.jpg");
    EXPECT_EQ(ReadText(made.value()), "picture");

    // An existing folder is no failure for createFolder.
    const Result<std::string> again = CopyIntoFolder(from / "photo.jpg", nested, true, NoPassword());
    ASSERT_TRUE(again.ok()) << again.error().message;
    EXPECT_EQ(again.value(), nested + "photo1.jpg");
}

TEST(CopyIntoFolderTest, NeverReplacesAFileThatIsThere)
{
    TempDir from, to;
    WriteFile(from / "photo.jpg", "new");
    WriteFile(to / "photo.jpg", "old");
    WriteFile(to / "photo1.jpg", "older");

    const Result<std::string> copy = CopyIntoFolder(from / "photo.jpg", to.path() + "/", false, NoPassword());
    ASSERT_TRUE(copy.ok()) << copy.error().message;
    EXPECT_EQ(copy.value(), to / "photo2.jpg");
    EXPECT_EQ(ReadText(to / "photo.jpg"), "old");
    EXPECT_EQ(ReadText(to / "photo1.jpg"), "older");
    EXPECT_EQ(ReadText(to / "photo2.jpg"), "new");
}

TEST(CopyIntoFolderTest, FailuresLeaveNothingBehind)
{
    TempDir from, to;
    WriteFile(from / "photo.jpg", "picture");
    std::filesystem::create_directory(from / "folder.jpg");

    const Result<std::string> missing = CopyIntoFolder(from / "gone.jpg", to.path() + "/", false, NoPassword());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ErrorKind::Io);

    const Result<std::string> folder = CopyIntoFolder(from / "folder.jpg", to.path() + "/", false, NoPassword());
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error().kind, ErrorKind::Unsupported);

    EXPECT_TRUE(FileNames(to).empty());
}

TEST(CopyIntoFolderTest, ReadOnlyFolderGivesAnIoErrorAndNothingInIt)
{
    TempDir from, to;
    WriteFile(from / "photo.jpg", "picture");
    Result<std::string> copy = std::string();
    {
        const test::UnwritableFolder readOnly(to.path());
        if (!readOnly.refusesWrites()) GTEST_SKIP() << "this file system lets root write into any folder";
        copy = CopyIntoFolder(from / "photo.jpg", to.path() + "/", false, NoPassword());
    }
    ASSERT_FALSE(copy.ok());
    EXPECT_EQ(copy.error().kind, ErrorKind::Io);
    EXPECT_TRUE(FileNames(to).empty());
}

TEST(CopyIntoFolderTest, DiskFullHalfWayLeavesNothingBehind)
{
    TempDir from, to;
    WriteFile(from / "photo.jpg", test::PseudoRandomBytes(600000));
    WriteFile(to / "photo.jpg", "old");

    Result<std::string> copy = std::string();
    {
        const test::FileSizeLimit limit(100000);
        copy = CopyIntoFolder(from / "photo.jpg", to.path() + "/", false, NoPassword());
    }
    ASSERT_FALSE(copy.ok());
    EXPECT_EQ(copy.error().kind, ErrorKind::Io);
    EXPECT_EQ(FileNames(to), (Names{"photo.jpg"}));
    EXPECT_EQ(ReadText(to / "photo.jpg"), "old");
}

TEST(RenameNoReplaceTest, RefusesAnExistingTargetAndKeepsBothFiles)
{
    TempDir dir;
    WriteFile(dir / "a.jpg", "a");
    WriteFile(dir / "b.jpg", "b");

    const Result<void> renamed = RenameNoReplace(dir / "a.jpg", dir / "b.jpg");
    ASSERT_FALSE(renamed.ok());
    EXPECT_EQ(renamed.error().kind, ErrorKind::Io);
    EXPECT_EQ(ReadText(dir / "a.jpg"), "a");
    EXPECT_EQ(ReadText(dir / "b.jpg"), "b");

    EXPECT_FALSE(RenameNoReplace(dir / "gone.jpg", dir / "c.jpg").ok());
    EXPECT_EQ(FileNames(dir), (Names{"a.jpg", "b.jpg"}));
}

TEST(RenameNoReplaceTest, MovesTheFileIncludingACaseOnlyChange)
{
    TempDir dir;
    WriteFile(dir / "photo.jpg", "picture");

    ASSERT_TRUE(RenameNoReplace(dir / "photo.jpg", dir / "renamed.jpg").ok());
    EXPECT_EQ(FileNames(dir), (Names{"renamed.jpg"}));

    // Two names differing in case are two files here, so this is an ordinary rename.
    const RenamePlan plan = PlanRename(dir / "renamed.jpg", "Renamed.jpg");
    ASSERT_EQ(plan.action, RenamePlan::Action::Rename);
    ASSERT_TRUE(RenameNoReplace(dir / "renamed.jpg", plan.newPath).ok());
    EXPECT_EQ(FileNames(dir), (Names{"Renamed.jpg"}));
    EXPECT_EQ(ReadText(dir / "Renamed.jpg"), "picture");
}

// The answer is trimmed and compared with the current and existing names; a "$" name stays a
// "$" name, since a container without it would no longer count as one.
TEST(PlanRenameTest, TrimmedAnswerAgainstTheCurrentAndExistingNames)
{
    TempDir dir;
    WriteFile(dir / "photo.jpg", "picture");
    WriteFile(dir / "other.jpg", "other");
    WriteFile(dir / "$photo.jpg", "picture");
    WriteFile(dir / "$other.jpg", "other");
    using A = RenamePlan::Action;
    struct Case {
        std::string current;
        std::string answer;
        A action;
        std::string newName;
    };
    const Case cases[] = {
        {"photo.jpg", "", A::Nothing, ""},
        {"photo.jpg", "   ", A::Nothing, ""},
        {"photo.jpg", "photo.jpg", A::Nothing, ""},
        {"photo.jpg", "  photo.jpg ", A::Nothing, ""},
        {"photo.jpg", "Photo.jpg", A::Rename, "Photo.jpg"},
        {"photo.jpg", "new.jpg", A::Rename, "new.jpg"},
        {"photo.jpg", "  new name.jpg  ", A::Rename, "new name.jpg"},
        {"photo.jpg", "other.jpg", A::Exists, "other.jpg"},
        {"photo.jpg", " other.jpg", A::Exists, "other.jpg"},
        {"photo.jpg", "../photo.jpg", A::Invalid, ""},
        {"photo.jpg", "sub/x.jpg", A::Invalid, ""},
        {"photo.jpg", "..", A::Invalid, ""},
        {"photo.jpg", ".", A::Invalid, ""},
        {"$photo.jpg", "new.jpg", A::Rename, "$new.jpg"},
        {"$photo.jpg", "$new.jpg", A::Rename, "$new.jpg"},
        {"$photo.jpg", " photo.jpg ", A::Nothing, ""},
        {"$photo.jpg", "other.jpg", A::Exists, "$other.jpg"},
        {"$photo.jpg", "$", A::Invalid, ""},
        {"$photo.jpg", ".", A::Invalid, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.current + ", answer \"" + c.answer + "\"");
        const RenamePlan plan = PlanRename(dir / c.current, c.answer);
        EXPECT_EQ(plan.action, c.action);
        if (c.action == A::Rename || c.action == A::Exists) {
            EXPECT_EQ(plan.newPath, dir / c.newName);
        }
    }
}

TEST(SubfolderNamesTest, FoldersAndLinksToFoldersInListingOrder)
{
    TempDir dir;
    for (const char* name : {"b", "a", "c d", ".hidden"})
        std::filesystem::create_directory(dir / name);
    WriteFile(dir / "photo.jpg", "picture");
    std::filesystem::create_directory_symlink(dir / "a", dir / "to a");
    std::filesystem::create_symlink(dir / "photo.jpg", dir / "to photo");
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");

    // The order is the file system's: compare with its own listing of the same entries.
    const Names folders{"b", "a", "c d", ".hidden", "to a"};
    std::vector<std::string> listed;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (folders.contains(name)) listed.push_back(name);
    }
    ASSERT_EQ(listed.size(), folders.size());

    EXPECT_EQ(SubfolderNames(dir.path()), listed);
    EXPECT_EQ(SubfolderNames(dir.path() + "/"), listed);
    EXPECT_TRUE(SubfolderNames(dir / "photo.jpg").empty());
    EXPECT_TRUE(SubfolderNames(dir / "missing").empty());
    EXPECT_TRUE(SubfolderNames(dir / "a").empty());
}

}  // namespace
}  // namespace quillix::browse
