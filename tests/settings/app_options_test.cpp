#include "settings/app_options.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace quillix::settings {
namespace {

using test::TempDir;

struct Stores {
    TSettingsStore app;
    TSettingsStore reg;
    explicit Stores(const TempDir& dir)
    {
        ConfigureAppSettings(app, dir / "conf/");
        ConfigureRegeditSettings(reg);
        reg.RegistryPath = dir / "registry.ini";
    }
};

TEST(HashPinTest, Md5Hex)
{
    EXPECT_EQ(HashPin(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(HashPin("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HashPin("7458").size(), 32u);
    EXPECT_NE(HashPin("7458"), HashPin("7459"));
}

TEST(Catalogue, FirstStartDefaults)
{
    TempDir dir;
    Stores s(dir);
    AppOptions before;
    EXPECT_FALSE(before.FileNamePW);
    EXPECT_EQ(before.MaxBytes, 102400);

    AppOptions o;
    LoadSettings(o, s.app, s.reg, dir / "conf/");
    EXPECT_TRUE(o.FileNamePW);
    EXPECT_TRUE(o.Fast);
    EXPECT_EQ(o.EncryptionAlg, 0);
    EXPECT_EQ(o.MaxBytes, 444 * 1024);
    EXPECT_EQ(o.Passes, 7);
    EXPECT_TRUE(o.ScaleToFit);
    EXPECT_FALSE(o.FitWidth);
    EXPECT_EQ(o.SortMode, 0);
    EXPECT_FALSE(o.MouseRevert);
    EXPECT_EQ(o.MouseOption, 0);
    EXPECT_EQ(o.NoPinHash, HashPin("7458"));
    EXPECT_EQ(o.PinHash, o.NoPinHash) << "no PIN set";
    EXPECT_EQ(o.PinErrors, 0);
    EXPECT_EQ(s.app.FilePath(), dir / "conf/Quillix.ini");
}

TEST(Catalogue, StoredValuesAndTheirOddities)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "conf");
    test::WriteFile(dir / "conf/Quillix.ini", "\r\nFileNamePW=0\r\nFast= 0 \r\nEncryptionAlg=9\r\nmxb=3000000\r\n"
                                              "passes=-2\r\nMOUSECTRL_REVERT=1\r\nMOUSECTRL_OPT=2\r\nSORT_MODE=x\r\n"
                                              "ScaleToFit=2\r\nFitWidth=1\r\n");
    test::WriteFile(dir / "registry.ini", "[Software\\Microsoft\\RegEdit]\np=abcdef\nc=3\n");
    Stores s(dir);
    AppOptions o;
    LoadSettings(o, s.app, s.reg, dir / "conf/");
    EXPECT_FALSE(o.FileNamePW);
    EXPECT_FALSE(o.Fast);
    EXPECT_EQ(o.EncryptionAlg, 9) << "no range check on load";
    EXPECT_EQ(o.MaxBytes, std::int64_t{3'000'000} * 1024) << "no 32-bit overflow";
    EXPECT_EQ(o.Passes, -2);
    EXPECT_TRUE(o.MouseRevert);
    EXPECT_EQ(o.MouseOption, 2);
    EXPECT_EQ(o.SortMode, 0);
    EXPECT_TRUE(o.ScaleToFit) << "2 is no flag";
    EXPECT_TRUE(o.FitWidth);
    EXPECT_EQ(o.PinHash, "abcdef");
    EXPECT_EQ(o.PinErrors, 3);
}

TEST(Catalogue, SaveThenLoad)
{
    TempDir dir;
    Stores s(dir);
    AppOptions o;
    LoadSettings(o, s.app, s.reg, dir / "conf/");
    o.ScaleToFit = false;
    o.FitWidth = true;
    o.SortMode = 3;
    o.Passes = 1;  // not one of the fields SaveSettings pushes
    s.app.PushString("LastDir", "/pics/");
    SaveSettings(o, s.app, dir / "conf/");
    EXPECT_TRUE(std::filesystem::exists(dir / "conf/Quillix.ini")) << "the folder is made when missing";

    Stores fresh(dir);
    AppOptions back;
    LoadSettings(back, fresh.app, fresh.reg, dir / "conf/");
    EXPECT_FALSE(back.ScaleToFit);
    EXPECT_TRUE(back.FitWidth);
    EXPECT_EQ(back.SortMode, 3);
    EXPECT_EQ(back.Passes, 7);
    EXPECT_EQ(fresh.app.PopString("LastDir"), "/pics/");
}

TEST(Catalogue, IniFolderPortableOrPerUser)
{
    // Tests run from the build tree, which is writable: the portable rule applies.
    EXPECT_EQ(IniFolder(), AppDir());
    EXPECT_EQ(IniFolder().back(), '/');

    TempDir home;
    ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
    EXPECT_EQ(IniFolderFor("/usr/lib/no-such-install/"), home / "quillix/");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    ::setenv("HOME", home.path().c_str(), 1);
    EXPECT_EQ(IniFolderFor("/usr/lib/no-such-install/"), home / ".config/quillix/");
    if (test::PermissionsAreEnforced()) {
        std::filesystem::permissions(home.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_EQ(IniFolderFor(home.path() + "/"), home / ".config/quillix/") << "a read-only install folder";
        std::filesystem::permissions(home.path(), std::filesystem::perms::owner_all);
    }
}

}  // namespace
}  // namespace quillix::settings
