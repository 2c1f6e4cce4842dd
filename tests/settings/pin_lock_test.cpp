#include "settings/app_options.h"
#include "settings/pin_lock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace quillix::settings {
namespace {

using Outcome = PinEntry::Outcome;
using test::ScopedEnv;
using test::TempDir;

// The outcome of each character typed.
std::vector<Outcome> TypeAll(PinEntry& entry, const std::string& typed)
{
    std::vector<Outcome> outcomes;
    for (const char c : typed)
        outcomes.push_back(entry.Type(c));
    return outcomes;
}

TEST(PinLock, AskedOnlyWhenAPinIsStored)
{
    TempDir dir;
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.path());
    struct Case {
        const char* stored;  // nullptr: no value
        bool asked;
    };
    const Case cases[] = {{nullptr, false}, {"7458", false}, {"1234", true}, {"0", true}};
    for (const Case& c : cases) {
        SettingsStore app, reg;
        ConfigureAppSettings(app, dir / "conf/");
        ConfigureRegeditSettings(reg);
        reg.ClearRegistry();
        if (c.stored) {
            reg.PushString("p", HashPin(c.stored));
            reg.SaveToRegistry();
        }
        AppOptions options;
        LoadSettings(options, app, reg, dir / "conf/");
        EXPECT_EQ(PinRequired(options), c.asked) << (c.stored ? c.stored : "none");
    }
    AppOptions noMd5;  // both hashes empty when MD5 is unavailable
    EXPECT_FALSE(PinRequired(noMd5));
}

TEST(PinLock, WaitGrowsBySevenSecondsPerFailure)
{
    const std::pair<int, int> cases[] = {
        {0, 0}, {-3, 0}, {1, 7000}, {3, 21000}, {306783, 2147481000}, {306784, INT_MAX}, {INT_MAX, INT_MAX}};
    for (const auto& [failures, ms] : cases)
        EXPECT_EQ(LockoutMs(failures), ms) << failures;
}

TEST(PinLock, FourDigitPinUnlocksOnItsLastDigit)
{
    PinEntry entry(HashPin("2580"));
    EXPECT_EQ(TypeAll(entry, "2580"),
              (std::vector<Outcome>{Outcome::Pending, Outcome::Pending, Outcome::Pending, Outcome::Unlocked}));
    EXPECT_TRUE(entry.Unlocks());
    EXPECT_EQ(entry.Type('1'), Outcome::Ignored) << "the attempt is over";
}

TEST(PinLock, FourWrongDigitsFail)
{
    PinEntry entry(HashPin("2580"));
    EXPECT_EQ(TypeAll(entry, "2581"),
              (std::vector<Outcome>{Outcome::Pending, Outcome::Pending, Outcome::Pending, Outcome::Failed}));
    EXPECT_FALSE(entry.Unlocks());
    EXPECT_EQ(entry.Type('0'), Outcome::Ignored);
}

TEST(PinLock, ShortPinUnlocksWithoutAFurtherKeystroke)
{
    PinEntry entry(HashPin("47"));
    EXPECT_EQ(TypeAll(entry, "47"), (std::vector<Outcome>{Outcome::Pending, Outcome::Unlocked}));
}

TEST(PinLock, LeadingZeros)
{
    // Stored as typed in the settings: typed the same way it unlocks.
    PinEntry asTyped(HashPin("0123"));
    EXPECT_EQ(TypeAll(asTyped, "0123").back(), Outcome::Unlocked);
    // A hash stored by an earlier version without the zero still unlocks with the digits after it.
    PinEntry older(HashPin("123"));
    EXPECT_EQ(TypeAll(older, "123").back(), Outcome::Unlocked);
    PinEntry olderWithZero(HashPin("123"));
    EXPECT_EQ(TypeAll(olderWithZero, "0123").back(), Outcome::Failed);
}

TEST(PinLock, OnlyDigitsCountAndStarsShowThem)
{
    PinEntry entry(HashPin("1234"));
    const std::string stars[] = {"*", "* *", "* * *"};
    int typed = 0;
    for (const char c : std::string("1a\b 2\x1b"
                                    "3")) {
        const Outcome outcome = entry.Type(c);
        const bool digit = c >= '0' && c <= '9';
        EXPECT_EQ(outcome, digit ? Outcome::Pending : Outcome::Ignored) << int(c);
        if (digit) ++typed;
        EXPECT_EQ(entry.Stars(), typed == 0 ? "" : stars[typed - 1]);
    }
    EXPECT_EQ(entry.Type('4'), Outcome::Unlocked);
    EXPECT_EQ(entry.Stars(), "* * * *");
}

TEST(PinLock, NothingMatchesAnEmptyHash)
{
    PinEntry entry("");
    EXPECT_EQ(TypeAll(entry, "1234").back(), Outcome::Failed);
    EXPECT_FALSE(entry.Unlocks());
}

TEST(PinLock, FailuresAreCountedInTheRegistryAndResetByTheRightPin)
{
    TempDir dir;
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.path());
    const auto storedCount = [] {
        SettingsStore reg;
        ConfigureRegeditSettings(reg);
        reg.LoadFromRegistry();
        return reg.GetString("c", "(none)");
    };
    SettingsStore reg;
    ConfigureRegeditSettings(reg);
    reg.PushString("p", HashPin("1234"));
    reg.SaveToRegistry();
    AppOptions options;
    CountPinFailure(options, reg);
    CountPinFailure(options, reg);
    EXPECT_EQ(options.PinErrors, 2);
    EXPECT_EQ(storedCount(), "2");
    ResetPinFailures(options, reg);
    EXPECT_EQ(options.PinErrors, 0);
    EXPECT_EQ(storedCount(), "0");
    options.PinErrors = INT_MAX;
    CountPinFailure(options, reg);
    EXPECT_EQ(options.PinErrors, INT_MAX) << "no overflow";
}

}  // namespace
}  // namespace quillix::settings
