#include "settings/app_options.h"
#include "settings/settings_form.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace quillix::settings {
namespace {

using test::ScopedEnv;
using test::TempDir;

// The stores and options as the viewer holds them, over a per-user folder inside a temp folder;
// the settings file goes into a folder that does not exist yet.
struct Program {
    TempDir dir;
    ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path()};
    SettingsStore app;
    SettingsStore reg;
    AppOptions options;

    Program()
    {
        ConfigureAppSettings(app, IniDir());
        ConfigureRegeditSettings(reg);
        Load();
    }
    std::string IniDir() const { return dir / "conf/"; }
    void Load() { LoadSettings(options, app, reg, IniDir()); }
    // What a fresh start reads from the files.
    AppOptions Reloaded() const
    {
        SettingsStore freshApp, freshReg;
        ConfigureAppSettings(freshApp, IniDir());
        ConfigureRegeditSettings(freshReg);
        AppOptions fresh;
        LoadSettings(fresh, freshApp, freshReg, IniDir());
        return fresh;
    }
    std::string StoredPinHash() const
    {
        SettingsStore freshReg;
        ConfigureRegeditSettings(freshReg);
        freshReg.LoadFromRegistry();
        return freshReg.GetString("p", "(none)");
    }
    SettingsFormState Shown()
    {
        SettingsFormState form;
        ShowSettings(form, options, app);
        return form;
    }
};

TEST(SettingsForm, FirstShowingHasTheDefaults)
{
    Program program;
    const SettingsFormState form = program.Shown();
    EXPECT_EQ(form.maxBytes, "444");
    EXPECT_FALSE(form.fullFile);
    EXPECT_EQ(form.passes, "7");
    EXPECT_FALSE(form.mouseRevert);
    EXPECT_EQ(form.mouseOption, kMouseToggleWithRightButton);
    EXPECT_EQ(form.encryptionAlg, 0);
    EXPECT_TRUE(form.fileNamePW);
    EXPECT_TRUE(form.fast);
    EXPECT_EQ(form.pin, "");
}

TEST(SettingsForm, ShowingReadsWhatIsStored)
{
    Program program;
    program.app.PushInt("mxb", 0);
    program.app.PushInt("passes", 3);
    program.app.PushInt("MOUSECTRL_OPT", 2);
    program.app.PushBool("MOUSECTRL_REVERT", true);
    program.app.PushInt("EncryptionAlg", 3);
    program.app.PushBool("FileNamePW", false);
    program.app.PushBool("Fast", false);
    std::filesystem::create_directories(program.IniDir());
    ASSERT_TRUE(program.app.SaveToFile());
    program.Load();
    const SettingsFormState form = program.Shown();
    EXPECT_EQ(form.maxBytes, "0");
    EXPECT_TRUE(form.fullFile);
    EXPECT_EQ(form.passes, "3");
    EXPECT_TRUE(form.mouseRevert);
    EXPECT_EQ(form.mouseOption, kMouseZoomStepWithShift);
    EXPECT_EQ(form.encryptionAlg, 3);
    EXPECT_FALSE(form.fileNamePW);
    EXPECT_FALSE(form.fast);
}

TEST(SettingsForm, ShowingReadsTheSecuritySettingsBackIntoTheOptions)
{
    Program program;
    program.options.Fast = false;
    program.options.FileNamePW = false;
    program.options.EncryptionAlg = 2;
    program.app.PushBool("Fast", true);
    program.Shown();
    EXPECT_TRUE(program.options.Fast);
    EXPECT_TRUE(program.options.FileNamePW) << "default when missing";
    EXPECT_EQ(program.options.EncryptionAlg, 0);
}

TEST(SettingsForm, UnknownChoicesShowAsTheDialogCanShowThem)
{
    Program program;
    program.options.MouseOption = 7;
    program.app.PushInt("EncryptionAlg", 9);
    const SettingsFormState form = program.Shown();
    EXPECT_EQ(form.mouseOption, kMouseToggleWithRightButton);
    EXPECT_EQ(form.encryptionAlg, 9) << "no algorithm button is selected";
    ApplySettings(form, program.options, program.app, program.reg);
    EXPECT_EQ(program.options.EncryptionAlg, 0);
    EXPECT_EQ(program.Reloaded().EncryptionAlg, 0);
    EXPECT_EQ(program.Reloaded().MouseOption, 0);
}

TEST(SettingsForm, EveryAlgorithmRoundTripsAndOthersStoreAes)
{
    struct Case {
        int chosen;
        int stored;
    };
    // 4 is the strong format; a number no button has (none selected) falls back to AES.
    for (const Case c :
         {Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{3, 3}, Case{4, 4}, Case{5, 0}, Case{-1, 0}, Case{255, 0}}) {
        SCOPED_TRACE(c.chosen);
        Program program;
        SettingsFormState form = program.Shown();
        form.encryptionAlg = c.chosen;
        ApplySettings(form, program.options, program.app, program.reg);
        EXPECT_EQ(program.options.EncryptionAlg, c.stored);
        AppOptions reloaded = program.Reloaded();
        EXPECT_EQ(reloaded.EncryptionAlg, c.stored);
        SettingsFormState shownAgain;
        ShowSettings(shownAgain, reloaded, program.app);
        EXPECT_EQ(shownAgain.encryptionAlg, c.stored);
    }
}

TEST(SettingsForm, ApplyStoresEveryControlAndSavesAtOnce)
{
    Program program;
    SettingsFormState form = program.Shown();
    form.maxBytes = "2048";
    form.passes = "3";
    form.mouseRevert = true;
    form.mouseOption = kMouseStepZoomWithShift;
    form.encryptionAlg = 1;
    form.fileNamePW = false;
    form.fast = false;
    ApplySettings(form, program.options, program.app, program.reg);

    for (const AppOptions& options : {program.options, program.Reloaded()}) {
        EXPECT_EQ(options.MaxKiB, 2048 * 1024);
        EXPECT_EQ(options.Passes, 3);
        EXPECT_TRUE(options.MouseRevert);
        EXPECT_EQ(options.MouseOption, 1);
        EXPECT_EQ(options.EncryptionAlg, 1);
        EXPECT_FALSE(options.FileNamePW);
        EXPECT_FALSE(options.Fast);
    }
    EXPECT_EQ(program.StoredPinHash(), "(none)") << "an empty PIN field stores nothing";
}

TEST(SettingsForm, NumbersThatDoNotConvertAndNumbersOutOfRange)
{
    struct Case {
        const char* maxBytes;
        const char* passes;
        int storedMxb;
        int storedPasses;
    };
    // "Max Bytes :" is stored as typed; "Passes: " is kept within 1 to 35: a negative number
    // would delete without overwriting, a huge one make a close wait for ever.
    const Case cases[] = {
        {"abc", "x7", 100, 7},      {"", "", 100, 7},   {" 12 ", "2 ", 12, 2},
        {"-5", "-1", -5, 1},        {"0", "0", 0, 1},   {"99999999999", "1e3", 100, 7},
        {"1", "35", 1, 35},         {"2", "36", 2, 35}, {"3", "2147483647", 3, 35},
        {"4", "-2147483648", 4, 1},
    };
    for (const Case& c : cases) {
        Program program;
        SettingsFormState form = program.Shown();
        form.maxBytes = c.maxBytes;
        form.passes = c.passes;
        ApplySettings(form, program.options, program.app, program.reg);
        EXPECT_EQ(program.app.GetInt("mxb", -99), c.storedMxb) << c.maxBytes;
        EXPECT_EQ(program.app.GetInt("passes", -99), c.storedPasses) << c.passes;
        EXPECT_EQ(program.Reloaded().MaxKiB, std::int64_t{c.storedMxb} * 1024) << c.maxBytes;
        EXPECT_EQ(program.Reloaded().Passes, c.storedPasses) << c.passes;
    }
}

TEST(SettingsForm, PinRule)
{
    struct Case {
        const char* typed;
        std::optional<std::string> stored;
    };
    const Case cases[] = {
        {"1234", HashPin("1234")},
        {"7", HashPin("7")},
        {" 42 ", HashPin("42")},
        // Leading zeros stay: the prompt later gets exactly the digits typed here.
        {"0123", HashPin("0123")},
        {"0000", HashPin("0000")},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"12a4", std::nullopt},
        {"-12", std::nullopt},
        {"+12", std::nullopt},
        {"12345", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PinHashToStore(c.typed), c.stored) << "'" << c.typed << "'";
}

TEST(SettingsForm, ApplyStoresANewPinForTheNextStartOnly)
{
    Program program;
    SettingsFormState form = program.Shown();
    form.pin = "0815";
    ApplySettings(form, program.options, program.app, program.reg);
    EXPECT_EQ(program.StoredPinHash(), HashPin("0815"));
    EXPECT_EQ(program.options.PinHash, program.options.NoPinHash) << "the running program is not locked";

    form.pin = "";
    ApplySettings(form, program.options, program.app, program.reg);
    EXPECT_EQ(program.StoredPinHash(), HashPin("0815")) << "only CLR removes the PIN";
    form.pin = "x";
    ApplySettings(form, program.options, program.app, program.reg);
    EXPECT_EQ(program.StoredPinHash(), HashPin("0815"));

    ClearPin(program.options, program.reg);
    EXPECT_EQ(program.StoredPinHash(), HashPin("7458"));
    EXPECT_EQ(program.Reloaded().PinHash, program.Reloaded().NoPinHash);
}

TEST(SettingsForm, ApplyKeepsTheFailureCountBesideANewPin)
{
    Program program;
    program.reg.PushInt("c", 2);
    program.reg.SaveToRegistry();
    program.Load();
    SettingsFormState form = program.Shown();
    form.pin = "99";
    ApplySettings(form, program.options, program.app, program.reg);
    EXPECT_EQ(program.Reloaded().PinErrors, 2);
}

TEST(SettingsForm, FullFileKeptInStepWithTheField)
{
    struct Case {
        FullFileControls before;
        FullFileControls after;
        const char* what;
    };
    const Case cases[] = {
        {{true, "444", false, true}, {true, "0", false, false}, "ticking shows 0 in a disabled field"},
        {{true, "0", true, false}, {true, "0", true, false}, "stays so"},
        {{false, "0", false, false}, {false, "444", false, true}, "unticking brings back 444"},
        {{false, "0", true, true}, {true, "0", true, false}, "typing 0 ticks the box"},
        {{false, "10", true, true}, {false, "10", true, true}, "another number is left alone"},
        {{false, "", false, true}, {false, "", false, true}, "so is an empty field"},
    };
    for (const Case& c : cases) {
        FullFileControls controls = c.before;
        KeepFullFileInStep(controls);
        EXPECT_EQ(controls.fullFile, c.after.fullFile) << c.what;
        EXPECT_EQ(controls.maxBytes, c.after.maxBytes) << c.what;
        EXPECT_EQ(controls.fieldEnabled, c.after.fieldEnabled) << c.what;
    }
}

TEST(SettingsForm, StoredPassesOutOfRangeLoadWithinIt)
{
    const std::pair<int, const char*> cases[] = {{0, "1"}, {-3, "1"}, {36, "35"}, {1'000'000, "35"}, {12, "12"}};
    for (const auto& [stored, shown] : cases) {
        Program program;
        program.app.PushInt("passes", stored);
        std::filesystem::create_directories(program.IniDir());
        ASSERT_TRUE(program.app.SaveToFile());
        program.Load();
        EXPECT_EQ(program.options.Passes, std::stoi(shown)) << stored;
        EXPECT_EQ(program.Shown().passes, shown) << stored;
    }
}

}  // namespace
}  // namespace quillix::settings
