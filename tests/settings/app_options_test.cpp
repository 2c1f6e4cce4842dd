#include "settings/app_options.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

namespace quillix::settings {
namespace {

using test::TempDir;

using test::ScopedEnv;

// The two stores as the program makes them, with the per-user folder inside `dir`.
struct Stores {
    ScopedEnv xdg;
    SettingsStore app;
    SettingsStore reg;
    explicit Stores(const TempDir& dir) : xdg("XDG_CONFIG_HOME", dir.path())
    {
        ConfigureAppSettings(app, dir / "conf/");
        ConfigureRegeditSettings(reg);
    }
};

TEST(HashPinTest, Md5Hex)
{
    const std::pair<const char*, const char*> vectors[] = {
        // RFC 1321, A.5 test suite
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // GNU coreutils md5sum of the no-PIN value
        {"7458", "57db7d68d5335b52d5153a4e01adaa6b"},
    };
    for (const auto& [text, hex] : vectors)
        EXPECT_EQ(HashPin(text), hex) << "'" << text << "'";
}

TEST(Catalogue, StoresAsTheProgramConfiguresThem)
{
    TempDir dir;
    Stores s(dir);
    EXPECT_EQ(s.app.Programmname, "Brindle");
    EXPECT_EQ(s.app.Firmenname, "Kestrel");
    EXPECT_EQ(s.app.FilePath(), dir / "conf/Quillix.ini");
    EXPECT_EQ(s.reg.BaseKey(), "Software\\Microsoft\\RegEdit");
    EXPECT_EQ(s.reg.RegistryPath, dir / "quillix/registry.ini");
}

TEST(Catalogue, FirstStartDefaults)
{
    TempDir dir;
    Stores s(dir);
    AppOptions o;
    o.SortMode = 4;
    o.PinErrors = 2;
    LoadSettings(o, s.app, s.reg, dir / "conf/");
    EXPECT_TRUE(o.FileNamePW);
    EXPECT_TRUE(o.Fast);
    EXPECT_EQ(o.EncryptionAlg, 0);
    EXPECT_EQ(o.MaxKiB, 444 * 1024);
    EXPECT_EQ(o.Passes, 7);
    EXPECT_TRUE(o.ScaleToFit);
    EXPECT_FALSE(o.FitWidth);
    EXPECT_EQ(o.SortMode, 0);
    EXPECT_FALSE(o.MouseRevert);
    EXPECT_EQ(o.MouseOption, 0);
    EXPECT_EQ(o.NoPinHash, HashPin("7458"));
    EXPECT_EQ(o.PinHash, o.NoPinHash) << "no PIN set";
    EXPECT_EQ(o.PinErrors, 0);
    EXPECT_EQ(test::FileNames(dir), std::set<std::string>{}) << "loading creates nothing";
}

TEST(Catalogue, StoredValuesAndTheirOddities)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "conf");
    std::filesystem::create_directories(dir / "quillix");
    test::WriteFile(dir / "conf/Quillix.ini", "\r\nFileNamePW=0\r\nFast= 0 \r\nEncryptionAlg=9\r\nmxb=3000000\r\n"
                                              "passes=-2\r\nMOUSECTRL_REVERT=1\r\nMOUSECTRL_OPT=2\r\nSORT_MODE=x\r\n"
                                              "ScaleToFit=2\r\nFitWidth=1\r\nfast=1\r\n");
    test::WriteFile(dir / "quillix/registry.ini", "[Software\\Microsoft\\RegEdit]\np=abcdef\nc=3\n");
    Stores s(dir);
    AppOptions o;
    LoadSettings(o, s.app, s.reg, dir / "conf/");
    EXPECT_FALSE(o.FileNamePW);
    EXPECT_FALSE(o.Fast) << "'fast' is another key";
    EXPECT_EQ(o.EncryptionAlg, 9) << "no range check on load";
    EXPECT_EQ(o.MaxKiB, std::int64_t{3'000'000} * 1024) << "no 32-bit overflow";
    EXPECT_EQ(o.Passes, 1) << "passes are kept within 1 to 35";
    EXPECT_TRUE(o.MouseRevert);
    EXPECT_EQ(o.MouseOption, 2);
    EXPECT_EQ(o.SortMode, 0);
    EXPECT_TRUE(o.ScaleToFit) << "2 is no flag";
    EXPECT_TRUE(o.FitWidth);
    EXPECT_EQ(o.PinHash, "abcdef");
    EXPECT_EQ(o.PinErrors, 3);

    std::filesystem::remove(dir / "conf/Quillix.ini");
    std::filesystem::remove(dir / "quillix/registry.ini");
    LoadSettings(o, s.app, s.reg, dir / "conf/");
    EXPECT_TRUE(o.Fast) << "every run re-reads: the old rows are gone";
    EXPECT_EQ(o.PinHash, o.NoPinHash);
    EXPECT_EQ(o.PinErrors, 0);
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
    EXPECT_EQ(test::ReadText(dir / "conf/Quillix.ini"),
              "\r\nLastDir=/pics/\r\nScaleToFit=0\r\nFitWidth=1\r\nSORT_MODE=3\r\n")
        << "the folder is made when missing";
    EXPECT_FALSE(std::filesystem::exists(dir / "quillix")) << "the registry is not written";

    Stores fresh(dir);
    AppOptions back;
    LoadSettings(back, fresh.app, fresh.reg, dir / "conf/");
    EXPECT_FALSE(back.ScaleToFit);
    EXPECT_TRUE(back.FitWidth);
    EXPECT_EQ(back.SortMode, 3);
    EXPECT_EQ(back.Passes, 7);
    EXPECT_EQ(fresh.app.GetString("LastDir"), "/pics/");
}

TEST(Catalogue, IniFolderPortableOrPerUser)
{
    TempDir home;
    EXPECT_EQ(IniFolderFor(home.path() + "/"), home.path() + "/") << "a writable install folder: portable";
    EXPECT_EQ(IniFolder(), IniFolderFor(AppDir()));
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", home.path());
        EXPECT_EQ(IniFolderFor("/no/such/install/"), home / "quillix/");
    }
    const std::pair<const char*, const char*> ignoredXdg[] = {{"", "empty"}, {"relative/dir", "not absolute"}};
    for (const auto& [value, why] : ignoredXdg) {
        ScopedEnv xdg("XDG_CONFIG_HOME", value);
        ScopedEnv homeEnv("HOME", home.path());
        EXPECT_EQ(IniFolderFor("/no/such/install/"), home / ".config/quillix/") << why;
    }
    if (test::PermissionsAreEnforced()) {
        ScopedEnv xdg("XDG_CONFIG_HOME", home.path());
        std::filesystem::permissions(home.path(),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_EQ(IniFolderFor(home.path() + "/"), home / "quillix/") << "a read-only install folder";
        std::filesystem::permissions(home.path(), std::filesystem::perms::owner_all);
    }
}

TEST(Catalogue, InstalledProgramKeepsSettingsPerUserEvenForRoot)
{
    TempDir home;
    ScopedEnv xdg("XDG_CONFIG_HOME", home.path());
    // /usr/bin is writable for root; an installed program still keeps each user's settings apart.
    for (const char* installed : {"/usr/bin/", "/usr/local/bin/", "/opt/quillix/bin/", "/usr/bin"})
        EXPECT_EQ(IniFolderFor(installed), home / "quillix/") << installed;
    for (const char* portable : {"/usrx/bin/", "/home/u/opt/", "/optional/"})
        EXPECT_FALSE(IsSystemFolder(portable)) << portable;
}

}  // namespace
}  // namespace quillix::settings
