#include "settings/settings_store.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>

namespace quillix::settings {
namespace {

using test::TempDir;

SettingsStore StoreIn(const TempDir& dir, const std::string& name = "test.ini")
{
    SettingsStore store;
    store.IniFileDir = dir.path();
    store.IniFileName = name;
    return store;
}

TEST(SettingsText, SectionLines)
{
    const std::pair<const char*, const char*> rows[] = {
        {"[Main]", "Main"}, {"  [Main]  ", "Main"}, {"[ a b ]", " a b "},
        {"[Main", "Main"},  {"[[Main]", "Main"},    {"[]", ""},
        {"[a]x", ""},       {"key=[a]", ""},        {"\t[Main]", ""},
        {"[Main]\t", ""},   {"[a][b]", ""},         {"plain", ""},
        {"", ""},
    };
    for (const auto& [line, folder] : rows)
        EXPECT_EQ(ExtractFolderName(line), folder) << "'" << line << "'";
}

TEST(SettingsText, NumbersAndLineHelpers)
{
    const std::tuple<const char*, int, int> numbers[] = {
        {"42", 0, 42},
        {" 1 ", 9, 1},
        {"\t-7\r", 0, -7},
        {"", 5, 5},
        {"   ", 5, 5},
        {"true", 3, 3},
        {"12abc", 3, 3},
        {"+8", 0, 8},
        {"2147483647", 0, 2147483647},
        {"-2147483648", 0, -2147483647 - 1},
        {"2147483648", 1, 1},
        {"- 4", 2, 2},
        {"1 2", 2, 2},
        {"0x10", 6, 6},
        {"+-1", 6, 6},
    };
    for (const auto& [text, def, value] : numbers)
        EXPECT_EQ(StrToInt(text, def), value) << "'" << text << "'";

    EXPECT_EQ(GetDataKey("a=b=c"), "a");
    EXPECT_EQ(GetDataValue("a=b=c"), "b=c");
    EXPECT_EQ(GetDataKey("noequals"), "noequals");
    EXPECT_EQ(GetDataValue("noequals"), "");
    EXPECT_EQ(BuildData("k", " v"), "k= v");

    EXPECT_EQ(EncodeText("a\r\nb\rc\nd\n\re", "<br>"), "a<br>b<br>c<br>d<br><br>e");
    EXPECT_EQ(DecodeText("a<br>b<br", "<br>"), "a\r\nb<br");
}

TEST(SettingsRows, AddDeleteAndOrder)
{
    SettingsStore s;
    s.PushInt("A", -12);
    s.PushBool("B", true);
    s.PushString("C", "");
    s.PushString("A", "again");
    ASSERT_EQ(s.Count(), 3);
    EXPECT_EQ(s.KeyAt(0), "B");
    EXPECT_EQ(s.KeyAt(2), "A") << "re-pushing moves a key to the end";
    EXPECT_EQ(s.GetString("A"), "again");
    EXPECT_EQ(s.GetString("C", "default"), "") << "an empty value is not a missing one";
    EXPECT_EQ(s.GetString("missing", "default"), "default");
    EXPECT_FALSE(s.Exist("b")) << "keys are case-sensitive";

    s.PushString("A", "other", "Folder");
    EXPECT_EQ(s.Count(), 4) << "the same key in another folder is another row";
    EXPECT_EQ(s.GetString("A", "", "Folder"), "other");
    EXPECT_EQ(s.GetString("A"), "again");
    EXPECT_TRUE(s.Delete("A", "Folder"));
    EXPECT_FALSE(s.Delete("A", "Folder"));
    EXPECT_EQ(s.GetIndex("A"), 2);
    s.Clear();
    EXPECT_EQ(s.Count(), 0);
}

TEST(SettingsRows, TypedReads)
{
    struct Row {
        std::optional<std::string> stored;  // nothing: no row at all
        int popInt;                         // GetInt with default 7
        bool popBoolDefFalse;
        bool popBoolDefTrue;
    };
    const Row rows[] = {
        {std::nullopt, 7, false, true},
        {"1", 1, true, true},
        {" 1 ", 1, true, true},
        {"0", 0, false, false},
        {"\t0\r", 0, false, false},
        {"2", 2, false, true},
        {"-1", -1, false, true},
        {"true", 7, false, true},
        {"", 7, false, true},
        {"01", 1, true, true},
        {"99999999999", 7, false, true},
    };
    for (const Row& row : rows) {
        SettingsStore s;
        if (row.stored) s.PushString("k", *row.stored);
        const std::string label = row.stored ? "'" + *row.stored + "'" : "missing";
        EXPECT_EQ(s.GetInt("k", 7), row.popInt) << label;
        EXPECT_EQ(s.GetBool("k", false), row.popBoolDefFalse) << label;
        EXPECT_EQ(s.GetBool("k", true), row.popBoolDefTrue) << label;
    }

    SettingsStore s;
    const std::pair<int, const char*> written[] = {{0, "0"}, {-5, "-5"}, {2147483647, "2147483647"}};
    for (const auto& [value, text] : written) {
        s.PushInt("n", value);
        EXPECT_EQ(s.GetString("n"), text);
    }
    s.PushBool("b", true);
    EXPECT_EQ(s.GetString("b"), "1");
    s.PushBool("b", false);
    EXPECT_EQ(s.GetString("b"), "0");
}

// How single lines of a hand-written file read back.
TEST(SettingsFile, LoadCases)
{
    struct Case {
        const char* file;
        const char* key;
        const char* folder;
        std::optional<std::string> value;  // nothing: no such row
    };
    const Case cases[] = {
        {"  Fast  =  1\r\n", "Fast", "", "  1"},
        {"a=1\r\nb=2\r\na=3\r\n", "a", "", "3"},
        {"fast=0\r\n", "Fast", "", std::nullopt},
        {"k=\r\n", "k", "", ""},
        {"url=http://x/?a=b\r\n", "url", "", "http://x/?a=b"},
        {";note\r\n", ";note", "", ""},
        {"=value\r\n", "", "", std::nullopt},
        {"[]\r\n", "[]", "", ""},
        {"key=[a]\r\n", "key", "", "[a]"},
        {"[Extra]\r\nk=v\r\n", "k", "Extra", "v"},
        {"[Extra]\r\nk=v\r\n", "k", "", std::nullopt},
        {"[Extra]\r\n[Other]\r\nk=v\r\n", "k", "Other", "v"},
        {"[Extra] x\r\nk=v\r\n", "k", "", "v"},
        {"[Extra] x\r\nk=v\r\n", "[Extra] x", "", ""},
        {"[Main\r\nk=v\r\n", "k", "Main", "v"},
        {"a=1\rb=2\nc=3", "b", "", "2"},
        {"a=1\rb=2\nc=3", "c", "", "3"},
        {"a=1\n\rb=2\r\n", "b", "", "2"},
        {"k=v\t \r\n", "k", "", "v\t "},
    };
    for (const Case& c : cases) {
        TempDir dir;
        test::WriteFile(dir / "test.ini", c.file);
        SettingsStore s = StoreIn(dir);
        ASSERT_TRUE(s.LoadFromFile());
        const std::string label = std::string("file '") + c.file + "', key '" + c.key + "'";
        if (c.value) {
            EXPECT_TRUE(s.Exist(c.key, c.folder)) << label;
            EXPECT_EQ(s.GetString(c.key, "<default>", c.folder), *c.value) << label;
        } else {
            EXPECT_FALSE(s.Exist(c.key, c.folder)) << label;
        }
    }
}

TEST(SettingsFile, ExactBytesWritten)
{
    TempDir dir;
    SettingsStore empty = StoreIn(dir, "empty.ini");
    ASSERT_TRUE(empty.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "empty.ini"), "\r\n");

    SettingsStore s = StoreIn(dir);
    s.PushBool("ScaleToFit", true);
    s.PushString("Name", "abc", "Extra");
    s.PushBool("FitWidth", false);
    s.PushInt("SORT_MODE", 2);
    ASSERT_TRUE(s.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "test.ini"),
              "\r\nScaleToFit=1\r\nFitWidth=0\r\nSORT_MODE=2\r\n\r\n[Extra]\r\nName=abc\r\n")
        << "the root folder first, though its rows came in around the folder's";

    s.PushString("ScaleToFit", "0");
    ASSERT_TRUE(s.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "test.ini"),
              "\r\nFitWidth=0\r\nSORT_MODE=2\r\nScaleToFit=0\r\n\r\n[Extra]\r\nName=abc\r\n")
        << "A, B, A again: B is written before A";

    SettingsStore onlyFolder = StoreIn(dir, "folder.ini");
    onlyFolder.PushString("k", "v", "F");
    ASSERT_TRUE(onlyFolder.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "folder.ini"), "\r\n\r\n[F]\r\nk=v\r\n") << "an empty root still has its line";
}

TEST(SettingsFile, OddLinesSurviveALoadAndASave)
{
    TempDir dir;
    test::WriteFile(dir / "test.ini", std::string("; a comment\r\n") + "  Fast  =  1\n" + "Fast=0\r" + "fast=1\r\n" +
                                          "url=http://x/?a=b\r\n" + "[]\r\n" + "key=[a]\r\n" + "=no key\r\n" + "\r\n" +
                                          "[Extra]\r\n" + "Name= abc\r\n" + "[a]x\r\n" + "[ Other ]  \r\n" + "v=1");
    SettingsStore s = StoreIn(dir);
    s.PushString("stale", "gone after the load");
    ASSERT_TRUE(s.LoadFromFile());
    EXPECT_FALSE(s.Exist("stale"));
    EXPECT_FALSE(s.GetBool("Fast", true)) << "the last occurrence wins";

    ASSERT_TRUE(s.SaveToFile());
    const std::string written = "\r\n; a comment=\r\nFast=0\r\nfast=1\r\nurl=http://x/?a=b\r\n[]=\r\nkey=[a]\r\n"
                                "\r\n[Extra]\r\nName= abc\r\n[a]x=\r\n"
                                "\r\n[ Other ]\r\nv=1\r\n";
    EXPECT_EQ(test::ReadText(dir / "test.ini"), written);

    SettingsStore again = StoreIn(dir);
    ASSERT_TRUE(again.LoadFromFile());
    ASSERT_TRUE(again.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "test.ini"), written) << "a second round trip changes nothing";
}

TEST(SettingsFile, MissingFilesAndAppending)
{
    TempDir dir;
    SettingsStore s = StoreIn(dir, "none.ini");
    s.PushInt("kept", 1);
    EXPECT_FALSE(s.AppendFromFile());
    EXPECT_EQ(s.GetInt("kept"), 1) << "appending a missing file leaves the rows alone";
    EXPECT_FALSE(s.LoadFromFile());
    EXPECT_EQ(s.Count(), 0) << "loading clears first: unsaved rows are gone";
    EXPECT_FALSE(s.ClearFile());

    s.PushInt("a", 1);
    s.PushInt("kept", 1);
    test::WriteFile(dir / "none.ini", "b=2\r\nkept=5\r\n");
    EXPECT_TRUE(s.AppendFromFile());
    EXPECT_EQ(s.GetInt("a"), 1);
    EXPECT_EQ(s.GetInt("kept"), 5);
    EXPECT_EQ(s.KeyAt(s.Count() - 1), "kept") << "a row read from the file moves to its place at the end";
    EXPECT_TRUE(s.ClearFile());
    EXPECT_FALSE(std::filesystem::exists(dir / "none.ini"));

    std::filesystem::create_directory(dir / "folder.ini");
    SettingsStore notAFile = StoreIn(dir, "folder.ini");
    EXPECT_FALSE(notAFile.LoadFromFile());
    EXPECT_FALSE(notAFile.SaveToFile());

    const std::tuple<const char*, const char*, const char*> paths[] = {
        {"", "x.ini", "x.ini"}, {"/etc/", "x.ini", "/etc/x.ini"}, {"/etc", "x.ini", "/etc/x.ini"}};
    for (const auto& [folder, name, path] : paths) {
        SettingsStore p;
        p.IniFileDir = folder;
        p.IniFileName = name;
        EXPECT_EQ(p.FilePath(), path);
    }
    SettingsStore defaults;
    EXPECT_EQ(defaults.IniFileName, "config.ini");
    EXPECT_EQ(defaults.IniFileDir, AppDir());
    EXPECT_EQ(AppDir().back(), '/');
    EXPECT_TRUE(std::filesystem::exists(AppDir() + "settings_tests")) << "the folder of this very program";
}

// A save goes through a temporary file: a failure keeps the old file, and a user's own file
// with the temporary's name is never overwritten.
TEST(SettingsFile, SavesAreAtomic)
{
    TempDir dir;
    test::WriteFile(dir / "test.ini.tmp", "the user's own file");
    SettingsStore s = StoreIn(dir);
    s.PushInt("a", 1);
    ASSERT_TRUE(s.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "test.ini.tmp"), "the user's own file");
    EXPECT_EQ(test::ReadText(dir / "test.ini"), "\r\na=1\r\n");

    s.PushString("big", std::string(100000, 'x'));
    {
        test::FileSizeLimit limit(50000);
        EXPECT_FALSE(s.SaveToFile());
    }
    EXPECT_EQ(test::ReadText(dir / "test.ini"), "\r\na=1\r\n");
    EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"test.ini", "test.ini.tmp"})) << "no temporary left";

    SettingsStore nowhere = StoreIn(dir);
    nowhere.IniFileDir = dir / "no/such/folder";
    EXPECT_FALSE(nowhere.SaveToFile());

    // Dotfile managers keep settings as links into a repository: the link stays a link.
    std::filesystem::create_directory(dir / "real");
    test::WriteFile(dir / "real/test.ini", "old");
    std::filesystem::create_symlink(dir / "real/test.ini", dir / "link.ini");
    SettingsStore linked = StoreIn(dir, "link.ini");
    linked.PushInt("a", 2);
    ASSERT_TRUE(linked.SaveToFile());
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(test::ReadText(dir / "real/test.ini"), "\r\na=2\r\n");
}

TEST(SettingsFile, ReadOnlyPlacesKeepTheOldFile)
{
    if (!test::PermissionsAreEnforced()) GTEST_SKIP() << "permission bits do not stop root";
    namespace fs = std::filesystem;
    TempDir dir;
    SettingsStore s = StoreIn(dir);
    s.PushInt("a", 1);
    ASSERT_TRUE(s.SaveToFile());
    s.PushInt("a", 2);

    fs::permissions(dir / "test.ini", fs::perms::owner_read);
    EXPECT_FALSE(s.SaveToFile()) << "a rename would get around the file's own permissions";
    EXPECT_EQ(test::ReadText(dir / "test.ini"), "\r\na=1\r\n");

    fs::permissions(dir / "test.ini", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(s.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "test.ini"), "\r\na=1\r\n");
    fs::permissions(dir.path(), fs::perms::owner_all);
}

// A folder name can hold a line break; written as it is, it would add lines of its own.
TEST(SettingsFile, RowsWithLineBreaksAreLeftOut)
{
    TempDir dir;
    SettingsStore s = StoreIn(dir);
    s.PushString("LastDir", "/home/u/odd\nFast=0\n[Extra]/");
    s.PushInt("SORT_MODE", 1);
    s.PushString("k\r", "v");
    s.PushString("k", "v", "F\n");
    EXPECT_FALSE(s.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "test.ini"), "\r\nSORT_MODE=1\r\n") << "the other rows are still saved";
}

}  // namespace
}  // namespace quillix::settings
