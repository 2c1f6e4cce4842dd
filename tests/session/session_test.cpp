#include "session/session.h"

#include "settings/setting_keys.h"
#include "support/scoped_env.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace quillix::session {
namespace {

// A session over a settings folder of its own, the registry file in the same place.
struct SessionRig {
    test::TempDir dir;
    test::ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path()};
    test::ScriptedDialogs dialogs;
    workers::WorkerPool pool{1};
    Session session{{&dialogs, dir.path() + "/", &pool}};

    std::string Ini() const { return dir / "Quillix.ini"; }
    // The ini file's time set back an hour, so that a write shows.
    std::filesystem::file_time_type AgeIni() const
    {
        std::filesystem::last_write_time(Ini(), std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
        return std::filesystem::last_write_time(Ini());
    }
};

TEST(Session, RemembersFoldersAndSortModesOnlyWhenTheyChange)
{
    SessionRig rig;
    EXPECT_EQ(rig.session.LastDir(), "");
    rig.session.RememberLastDir("/pictures/a");
    EXPECT_EQ(rig.session.LastDir(), "/pictures/a");
    ASSERT_TRUE(std::filesystem::exists(rig.Ini()));

    auto written = rig.AgeIni();
    rig.session.RememberLastDir("/pictures/a");
    rig.session.RememberSortMode(rig.session.Options().SortMode);
    EXPECT_EQ(std::filesystem::last_write_time(rig.Ini()), written) << "nothing changed, nothing written";

    rig.session.RememberSortMode(3);
    EXPECT_NE(std::filesystem::last_write_time(rig.Ini()), written);
    written = rig.AgeIni();
    rig.session.RememberLastDir("/pictures/b");
    EXPECT_NE(std::filesystem::last_write_time(rig.Ini()), written);

    // A new session, as at the next start, reads what was remembered.
    test::ScriptedDialogs dialogs;
    Session next({&dialogs, rig.dir.path() + "/", &rig.pool});
    EXPECT_EQ(next.LastDir(), "/pictures/b");
    EXPECT_EQ(settings::Read(next.AppSettings(), settings::kSortModeSetting), 3);
}

TEST(Session, EncryptionTakesTheOptionsAsTheyStandAtEachOperation)
{
    SessionRig rig;
    rig.session.Options().Fast = false;
    rig.session.Options().Passes = 2;
    settings::Write(rig.session.AppSettings(), settings::kFastSetting, true);
    container::FileOptions options = rig.session.Crypto().OptionsForNextOperation();
    EXPECT_FALSE(options.Fast) << "the options, not a store read behind them";
    EXPECT_EQ(options.Passes, 2);
    rig.session.Options().Fast = true;
    EXPECT_TRUE(rig.session.Crypto().OptionsForNextOperation().Fast);
}

TEST(Session, PasswordEventsReachTheWindowThatListens)
{
    SessionRig rig;
    int forgotten = 0;
    rig.session.cryptoEvents().passwordForgotten = [&forgotten] { ++forgotten; };
    rig.session.Crypto().ClearPassword();
    EXPECT_EQ(forgotten, 1);
    // The window went: nothing is called any more.
    rig.session.cryptoEvents() = {};
    rig.session.Crypto().ClearPassword();
    EXPECT_EQ(forgotten, 1);
}

TEST(Session, UsesThePoolItIsGivenOrMakesItsOwn)
{
    SessionRig rig;
    EXPECT_EQ(&rig.session.Pool(), &rig.pool);
    test::ScriptedDialogs dialogs;
    Session own({&dialogs, rig.dir.path() + "/", nullptr});
    EXPECT_NE(&own.Pool(), &rig.pool);
}

}  // namespace
}  // namespace quillix::session
