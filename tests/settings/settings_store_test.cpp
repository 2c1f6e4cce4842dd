#include "settings/settings_store.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

namespace quillix::settings {
namespace {

using test::TempDir;

TSettingsStore StoreIn(const TempDir& dir, const std::string& name = "test.ini")
{
    TSettingsStore store;
    store.IniFileDir = dir.path();
    store.IniFileName = name;
    return store;
}

TEST(SettingsText, SectionLines)
{
    const std::pair<const char*, const char*> rows[] = {
        {"[Main]", "Main"},      {"  [Main]  ", "Main"}, {"[ a b ]", " a b "}, {"[Main", "Main"},
        {"[[Main]", "Main"},     {"[]", ""},             {"[a]x", ""},         {"key=[a]", ""},
        {"\t[Main]", ""},        {"[a][b]", ""},         {"plain", ""},        {"", ""},
    };
    for (const auto& [line, folder] : rows) EXPECT_EQ(ExtractFolderName(line), folder) << "'" << line << "'";
}

TEST(SettingsText, NumbersAndLineHelpers)
{
    const std::tuple<const char*, int, int> numbers[] = {
        {"42", 0, 42},  {" 1 ", 9, 1},        {"\t-7\r", 0, -7}, {"", 5, 5},          {"   ", 5, 5},
        {"true", 3, 3}, {"12abc", 3, 3},      {"+8", 0, 8},      {"2147483647", 0, 2147483647},
        {"2147483648", 1, 1}, {"- 4", 2, 2}, {"0x10", 6, 6},
    };
    for (const auto& [text, def, value] : numbers) EXPECT_EQ(StrToInt(text, def), value) << "'" << text << "'";

    EXPECT_EQ(GetDataKey("a=b=c"), "a");
    EXPECT_EQ(GetDataValue("a=b=c"), "b=c");
    EXPECT_EQ(GetDataKey("noequals"), "noequals");
    EXPECT_EQ(GetDataValue("noequals"), "");
    EXPECT_EQ(BuildData("k", " v"), "k= v");

    EXPECT_EQ(EncodeText("a\r\nb\rc\nd", "<br>"), "a<br>b<br>c<br>d");
    EXPECT_EQ(DecodeText("a<br>b<br", "<br>"), "a\r\nb<br");
}

TEST(SettingsRows, AccessorsAndOrder)
{
    TSettingsStore s;
    s.PushInt("A", -12);
    s.PushBool("B", true);
    s.PushString("C", "");
    s.PushString("A", "again");
    EXPECT_EQ(s.Count(), 3);
    EXPECT_EQ(s.KeyAt(2), "A") << "re-pushing moves a key to the end";
    EXPECT_EQ(s.PopString("A"), "again");
    EXPECT_EQ(s.PopString("C", "default"), "") << "an empty value is not a missing one";
    EXPECT_EQ(s.PopString("missing", "default"), "default");
    EXPECT_EQ(s.PopInt("missing", 9), 9);
    EXPECT_EQ(s.PopInt("A", 4), 4) << "not a number: the default";
    EXPECT_TRUE(s.PopBool("B"));
    EXPECT_FALSE(s.Exist("b")) << "keys are case-sensitive";
    EXPECT_EQ(s.GetIndex("A", "Other"), -1) << "and belong to their folder";

    const std::tuple<const char*, bool, bool> bools[] = {
        {"1", false, true}, {" 1 ", false, true}, {"0", true, false}, {"2", true, true},
        {"true", false, false}, {"", true, true}, {"-1", false, false},
    };
    for (const auto& [text, def, value] : bools) {
        s.PushString("flag", text);
        EXPECT_EQ(s.PopBool("flag", def), value) << "'" << text << "'";
    }
    EXPECT_TRUE(s.Delete("flag"));
    EXPECT_FALSE(s.Delete("flag"));
    s.PushInt("n", 0);
    EXPECT_EQ(s.PopString("n"), "0");
    s.Clear();
    EXPECT_EQ(s.Count(), 0);
}

TEST(SettingsFile, ExactBytesWritten)
{
    TempDir dir;
    TSettingsStore empty = StoreIn(dir, "empty.ini");
    ASSERT_TRUE(empty.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "empty.ini"), "\r\n");

    TSettingsStore s = StoreIn(dir);
    s.PushBool("ScaleToFit", true);
    s.PushString("Name", "abc", "Extra");
    s.PushBool("FitWidth", false);
    s.PushInt("SORT_MODE", 2);
    ASSERT_TRUE(s.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "test.ini"), "\r\nScaleToFit=1\r\nFitWidth=0\r\nSORT_MODE=2\r\n\r\n[Extra]\r\nName=abc\r\n");

    s.PushString("ScaleToFit", "0");
    ASSERT_TRUE(s.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "test.ini"), "\r\nFitWidth=0\r\nSORT_MODE=2\r\nScaleToFit=0\r\n\r\n[Extra]\r\nName=abc\r\n")
        << "A, B, A again: B is written before A";
}

TEST(SettingsFile, OddLinesSurviveALoadAndASave)
{
    TempDir dir;
    test::WriteFile(dir / "test.ini", std::string("; a comment\r\n") + "  Fast  =  1\n" + "Fast=0\r" +
                                          "fast=1\r\n" + "url=http://x/?a=b\r\n" + "[]\r\n" + "key=[a]\r\n" +
                                          "=no key\r\n" + "\r\n" + "[Extra]\r\n" + "Name= abc\r\n" + "[a]x\r\n" +
                                          "[ Other ]  \r\n" + "v=1");
    TSettingsStore s = StoreIn(dir);
    s.PushString("stale", "gone after the load");
    ASSERT_TRUE(s.LoadFromFile());
    EXPECT_FALSE(s.Exist("stale"));
    EXPECT_EQ(s.PopString("; a comment", "x"), "") << "a comment is a key with an empty value";
    EXPECT_FALSE(s.PopBool("Fast", true)) << "the last occurrence wins";
    EXPECT_EQ(s.PopString("fast"), "1");
    EXPECT_EQ(s.PopString("url"), "http://x/?a=b");
    EXPECT_EQ(s.PopString("[]", "x"), "");
    EXPECT_EQ(s.PopString("key"), "[a]");
    EXPECT_EQ(s.PopString("Name", "", "Extra"), " abc") << "leading blanks of a value stay";
    EXPECT_EQ(s.PopString("[a]x", "none", "Extra"), "") << "a section line with trailing text is a key";
    EXPECT_EQ(s.PopString("v", "", " Other "), "1");

    ASSERT_TRUE(s.SaveToFile());
    EXPECT_EQ(test::ReadText(dir / "test.ini"), "\r\n; a comment=\r\nFast=0\r\nfast=1\r\nurl=http://x/?a=b\r\n[]=\r\n"
                                          "key=[a]\r\n\r\n[Extra]\r\nName= abc\r\n[a]x=\r\n\r\n[ Other ]\r\nv=1\r\n");
    TSettingsStore again = StoreIn(dir);
    ASSERT_TRUE(again.LoadFromFile());
    EXPECT_EQ(again.Count(), s.Count());
}

TEST(SettingsFile, MissingFilesAndAppending)
{
    TempDir dir;
    TSettingsStore s = StoreIn(dir, "none.ini");
    s.PushInt("kept", 1);
    EXPECT_FALSE(s.LoadFromFile());
    EXPECT_EQ(s.PopInt("kept"), 1) << "a missing file leaves the rows alone";
    EXPECT_FALSE(s.ClearFile());

    test::WriteFile(dir / "none.ini", "b=2\r\nkept=5\r\n");
    EXPECT_TRUE(s.AppendFromFile());
    EXPECT_EQ(s.PopInt("kept"), 5);
    EXPECT_EQ(s.PopInt("b"), 2);
    EXPECT_TRUE(s.ClearFile());
    EXPECT_FALSE(std::filesystem::exists(dir / "none.ini"));

    TSettingsStore relative;
    relative.IniFileDir = "";
    relative.IniFileName = "x.ini";
    EXPECT_EQ(relative.FilePath(), "x.ini");
    relative.IniFileDir = "/etc/";
    EXPECT_EQ(relative.FilePath(), "/etc/x.ini");
    relative.IniFileDir = "/etc";
    EXPECT_EQ(relative.FilePath(), "/etc/x.ini");
}

// A save goes through a temporary file: a failure keeps the old file, and a user's own file
// with the temporary's name is never overwritten.
TEST(SettingsFile, SavesAreAtomic)
{
    TempDir dir;
    test::WriteFile(dir / "test.ini.tmp", "the user's own file");
    TSettingsStore s = StoreIn(dir);
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
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);

    TSettingsStore nowhere = StoreIn(dir);
    nowhere.IniFileDir = dir / "no/such/folder";
    EXPECT_FALSE(nowhere.SaveToFile());
}

}  // namespace
}  // namespace quillix::settings
