#include "settings/registry_file.h"
#include "settings/settings_store.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace quillix::settings {
namespace {

using test::TempDir;

TSettingsStore PinStore(const TempDir& dir)
{
    TSettingsStore s;
    s.Programmname = "RegEdit";
    s.Firmenname = "Microsoft";
    s.RegistryPath = dir / "quillix/registry.ini";
    return s;
}

TEST(RegistryBackend, MissingKeyFailsAndLeavesTheStoreEmpty)
{
    TempDir dir;
    TSettingsStore s = PinStore(dir);
    s.PushString("p", "stale");
    EXPECT_FALSE(s.LoadFromRegistry()) << "no file at all";
    EXPECT_EQ(s.Count(), 0);

    TSettingsStore other = PinStore(dir);
    other.Programmname = "Other";
    other.PushString("x", "1");
    ASSERT_TRUE(other.SaveToRegistry());
    EXPECT_FALSE(s.LoadFromRegistry()) << "another program's key is not ours";
    EXPECT_FALSE(s.ClearRegistry());
}

TEST(RegistryBackend, SaveNeverDeletesAndFoldersAreSubkeys)
{
    TempDir dir;
    TSettingsStore s = PinStore(dir);
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
    TSettingsStore loaded = PinStore(dir);
    ASSERT_TRUE(loaded.LoadFromRegistry());
    EXPECT_EQ(loaded.PopString("p"), "new");
    EXPECT_EQ(loaded.PopInt("c"), 2);
    EXPECT_EQ(loaded.PopString("deep", "", "Sub"), "x");

    // Keys nested deeper than one level are not folders of the store; other keys survive.
    TSettingsStore other = PinStore(dir);
    other.Programmname = "RegEdit\\Sub\\Deeper";
    other.PushString("hidden", "1");
    ASSERT_TRUE(other.SaveToRegistry());
    TSettingsStore neighbour = PinStore(dir);
    neighbour.Firmenname = "";
    neighbour.Programmname = "Neighbour";
    neighbour.PushString("n", "1");
    ASSERT_TRUE(neighbour.SaveToRegistry());
    ASSERT_TRUE(loaded.LoadFromRegistry());
    EXPECT_FALSE(loaded.Exist("hidden", "Sub\\Deeper"));
    EXPECT_FALSE(loaded.Exist("hidden", "Sub"));
    EXPECT_EQ(loaded.Count(), 3);

    ASSERT_TRUE(loaded.ClearRegistry());
    EXPECT_FALSE(loaded.LoadFromRegistry());
    ASSERT_TRUE(neighbour.LoadFromRegistry()) << "clearing one key leaves the others";
    EXPECT_EQ(neighbour.PopString("n"), "1");
}

TEST(RegistryBackend, AppendAndUnrepresentableValues)
{
    TempDir dir;
    TSettingsStore s = PinStore(dir);
    s.PushString("p", "hash");
    ASSERT_TRUE(s.SaveToRegistry());

    TSettingsStore t = PinStore(dir);
    t.PushString("local", "1");
    ASSERT_TRUE(t.AppendFromRegistry());
    EXPECT_EQ(t.PopString("local"), "1");
    EXPECT_EQ(t.PopString("p"), "hash");

    // A line break or an "=" in a name cannot be kept in the file: that value fails, the
    // others are still written, and nothing already there is corrupted.
    t.PushString("two\nlines", "x");
    t.PushString("c", "3");
    EXPECT_FALSE(t.SaveToRegistry());
    ASSERT_TRUE(s.LoadFromRegistry());
    EXPECT_EQ(s.PopString("c"), "3");
    EXPECT_EQ(s.Count(), 3);
}

}  // namespace
}  // namespace quillix::settings
