#include "settings/settings_store.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quillix::settings {
namespace {

using test::TempDir;

SettingsStore PinStore(const TempDir& dir)
{
    SettingsStore s;
    s.Programmname = "RegEdit";
    s.Firmenname = "Microsoft";
    s.RegistryPath = dir / "quillix/registry.ini";
    return s;
}

TEST(RegistryBackend, MissingKeyFailsAndLeavesTheStoreEmpty)
{
    TempDir dir;
    SettingsStore s = PinStore(dir);
    s.PushString("p", "stale");
    EXPECT_FALSE(s.LoadFromRegistry()) << "no file at all";
    EXPECT_EQ(s.Count(), 0);

    SettingsStore other = PinStore(dir);
    other.Programmname = "RegEditor";
    other.PushString("x", "1");
    ASSERT_TRUE(other.SaveToRegistry());
    s.PushString("p", "stale");
    EXPECT_FALSE(s.LoadFromRegistry()) << "a key whose name only starts like ours is not ours";
    EXPECT_EQ(s.Count(), 0);
    EXPECT_FALSE(s.ClearRegistry());
}

TEST(RegistryBackend, SaveNeverDeletesAndFoldersAreSubkeys)
{
    TempDir dir;
    SettingsStore s = PinStore(dir);
    EXPECT_EQ(s.BaseKey(), "Software\\Microsoft\\RegEdit");
    s.PushString("p", "0123abcd");
    s.PushInt("c", 2);
    s.PushString("deep", "x", "Sub");
    ASSERT_TRUE(s.SaveToRegistry());
    EXPECT_EQ(test::ReadText(s.RegistryPath),
              "[Software\\Microsoft\\RegEdit]\np=0123abcd\nc=2\n\n[Software\\Microsoft\\RegEdit\\Sub]\ndeep=x\n\n");

    // Removing a row and saving leaves the value behind; the next load brings it back.
    ASSERT_TRUE(s.Delete("c"));
    s.PushString("p", "new");
    ASSERT_TRUE(s.SaveToRegistry());
    SettingsStore loaded = PinStore(dir);
    ASSERT_TRUE(loaded.LoadFromRegistry());
    EXPECT_EQ(loaded.GetString("p"), "new");
    EXPECT_EQ(loaded.GetInt("c"), 2);
    EXPECT_EQ(loaded.GetString("deep", "", "Sub"), "x");

    // Keys nested deeper than one level are not folders of the store; other keys survive.
    SettingsStore deeper = PinStore(dir);
    deeper.Programmname = "RegEdit\\Sub\\Deeper";
    deeper.PushString("hidden", "1");
    ASSERT_TRUE(deeper.SaveToRegistry());
    SettingsStore neighbour = PinStore(dir);
    neighbour.Firmenname = "";
    neighbour.Programmname = "Neighbour";
    EXPECT_EQ(neighbour.BaseKey(), "Software\\Neighbour");
    neighbour.PushString("n", "1");
    ASSERT_TRUE(neighbour.SaveToRegistry());
    ASSERT_TRUE(loaded.LoadFromRegistry());
    EXPECT_FALSE(loaded.Exist("hidden", "Sub\\Deeper"));
    EXPECT_FALSE(loaded.Exist("hidden", "Sub"));
    EXPECT_EQ(loaded.Count(), 3);
    ASSERT_TRUE(deeper.LoadFromRegistry());
    EXPECT_EQ(deeper.GetString("hidden"), "1");

    ASSERT_TRUE(loaded.ClearRegistry());
    EXPECT_FALSE(loaded.LoadFromRegistry());
    EXPECT_FALSE(deeper.LoadFromRegistry()) << "subkeys go with their key";
    ASSERT_TRUE(neighbour.LoadFromRegistry()) << "clearing one key leaves the others";
    EXPECT_EQ(neighbour.GetString("n"), "1");
}

TEST(RegistryBackend, AppendAndUnrepresentableValues)
{
    TempDir dir;
    SettingsStore s = PinStore(dir);
    s.PushString("p", "hash");
    ASSERT_TRUE(s.SaveToRegistry());

    SettingsStore t = PinStore(dir);
    t.PushString("local", "1");
    t.PushString("p", "unsaved");
    ASSERT_TRUE(t.AppendFromRegistry());
    EXPECT_EQ(t.GetString("local"), "1");
    EXPECT_EQ(t.GetString("p"), "hash");

    // These cannot be kept in the file: each fails, the others are still written, and
    // nothing already there is corrupted.
    const std::pair<const char*, const char*> refused[] = {{"two\nlines", "x"}, {"q", "a\rb"}, {"q", "a\nb"},
                                                           {"a=b", "x"},        {"[q]", "x"},  {"", "x"}};
    for (const auto& [name, value] : refused) {
        SettingsStore bad = PinStore(dir);
        bad.PushString(name, value);
        bad.PushString("c", "3");
        EXPECT_FALSE(bad.SaveToRegistry()) << "'" << name << "'='" << value << "'";
    }
    SettingsStore badFolder = PinStore(dir);
    badFolder.PushString("k", "v", "F\nG");
    EXPECT_FALSE(badFolder.SaveToRegistry());

    ASSERT_TRUE(s.LoadFromRegistry());
    EXPECT_EQ(s.Count(), 2) << "p and c";
    EXPECT_EQ(s.GetString("c"), "3");
    EXPECT_EQ(s.GetString("p"), "hash");
}

TEST(RegistryBackend, HandWrittenFile)
{
    TempDir dir;
    SettingsStore s = PinStore(dir);
    std::filesystem::create_directories(dir / "quillix");
    test::WriteFile(s.RegistryPath, "stray=line before any key\r\n"
                                    "[Software\\Microsoft\\RegEdit]\r\n"
                                    "p=first\r\n"
                                    "c = 1\r\n"
                                    "[Software\\Other]\r\n"
                                    "o=1\r\n"
                                    "[Software\\Microsoft\\RegEdit]\r\n"
                                    "p=second=with equals\r\n");
    ASSERT_TRUE(s.LoadFromRegistry());
    EXPECT_EQ(s.GetString("p"), "second=with equals") << "a repeated key and name: the later text";
    EXPECT_EQ(s.GetString("c ", "none"), " 1") << "names compare exactly, nothing is trimmed";

    s.PushString("p", "third");
    ASSERT_TRUE(s.SaveToRegistry());
    SettingsStore back = PinStore(dir);
    ASSERT_TRUE(back.LoadFromRegistry());
    EXPECT_EQ(back.GetString("p"), "third");
    EXPECT_EQ(back.Count(), 2);
    SettingsStore other = PinStore(dir);
    other.Firmenname = "";
    other.Programmname = "Other";
    ASSERT_TRUE(other.LoadFromRegistry());
    EXPECT_EQ(other.GetString("o"), "1");
}

// The file holds the PIN: one that cannot be read must not be replaced by what little the
// store holds.
TEST(RegistryBackend, UnreadableFileIsLeftAlone)
{
    if (!test::PermissionsAreEnforced()) GTEST_SKIP() << "permission bits do not stop root";
    namespace fs = std::filesystem;
    TempDir dir;
    SettingsStore s = PinStore(dir);
    s.PushString("p", "hash");
    ASSERT_TRUE(s.SaveToRegistry());
    EXPECT_EQ(fs::status(s.RegistryPath).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const std::string before = test::ReadText(s.RegistryPath);

    fs::permissions(s.RegistryPath, fs::perms::none);
    EXPECT_FALSE(s.LoadFromRegistry());
    EXPECT_EQ(s.Count(), 0);
    s.PushString("c", "1");
    EXPECT_FALSE(s.SaveToRegistry());
    fs::permissions(s.RegistryPath, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(test::ReadText(s.RegistryPath), before);
}

}  // namespace
}  // namespace quillix::settings
