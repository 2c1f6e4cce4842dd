#include "support/temp_dir.h"
#include "support/tree_watch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// The real program, started as a desktop would start it, in a home folder of its own.
namespace {

using quillix::test::ReadText;
using quillix::test::TempDir;
using quillix::test::TreeWatch;

struct Home {
    TempDir dir;
    std::string home = dir / "home";
    std::string pictures = dir / "pictures";

    Home()
    {
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(pictures);
    }
    // The program copied to `folder` (relative to the temp folder), so it runs from there.
    std::string Install(const std::string& folder) const
    {
        std::filesystem::create_directories(dir / folder);
        const std::string exe = dir / folder + "/quillix";
        std::filesystem::copy_file(QUILLIX_PROGRAM, exe, std::filesystem::copy_options::overwrite_existing);
        return exe;
    }
    std::string DesktopEntry() const { return home + "/.local/share/applications/quillix.desktop"; }

    pid_t Start(const std::string& exe, const std::vector<std::string>& args = {}) const
    {
        std::vector<std::string> env = {"HOME=" + home, "QT_QPA_PLATFORM=offscreen", "PATH=/usr/bin:/bin",
                                        "XDG_RUNTIME_DIR=" + dir.path()};
        std::vector<std::string> argv = {exe};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> envp, argp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        for (std::string& a : argv)
            argp.push_back(a.data());
        argp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        // The pictures folder as the working directory: the gallery opens there.
        posix_spawn_file_actions_addchdir_np(&actions, pictures.c_str());
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argp.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        return rc == 0 ? pid : -1;
    }
    static int Wait(pid_t pid)
    {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Waits (at most 60 s, a limit only a fault reaches) until the desktop entry starts `exe`
    // and the files written after it, the Nemo action and the largest icon last, are there.
    bool RegisteredFor(const std::string& exe) const
    {
        TreeWatch watch(home);
        return watch.WaitFor(
            [&] {
                return ReadText(DesktopEntry()).find("Exec=\"" + exe + "\" %f") != std::string::npos &&
                       ReadText(home + "/.local/share/nemo/actions/quillix.nemo_action").find(exe) !=
                           std::string::npos &&
                       std::filesystem::exists(home + "/.local/share/icons/hicolor/256x256/apps/quillix.png");
            },
            std::chrono::seconds(60));
    }
};

TEST(Program, RegistersAtStartFollowsAMoveAndUnregisters)
{
    Home home;
    const std::string first = home.Install("first");
    const pid_t a = home.Start(first);
    ASSERT_GT(a, 0);
    EXPECT_TRUE(home.RegisteredFor(first));
    kill(a, SIGTERM);
    Home::Wait(a);

    const std::string moved = home.Install("moved place");
    const pid_t b = home.Start(moved);
    ASSERT_GT(b, 0);
    EXPECT_TRUE(home.RegisteredFor(moved));
    kill(b, SIGTERM);
    Home::Wait(b);
    EXPECT_TRUE(std::filesystem::exists(home.home + "/.local/share/nemo/actions/quillix.nemo_action"));
    EXPECT_NE(ReadText(home.home + "/.config/mimeapps.list").find("image/png=quillix.desktop;"), std::string::npos);
    // A program run from a folder of its own keeps its settings there.
    EXPECT_TRUE(std::filesystem::exists(home.dir / "moved place/Quillix.ini"));

    const pid_t c = home.Start(moved, {"--unregister"});
    ASSERT_GT(c, 0);
    EXPECT_EQ(Home::Wait(c), 0);
    EXPECT_FALSE(std::filesystem::exists(home.DesktopEntry()));
    EXPECT_FALSE(std::filesystem::exists(home.home + "/.local/share/nemo/actions/quillix.nemo_action"));
    EXPECT_FALSE(std::filesystem::exists(home.home + "/.local/share/kio/servicemenus/quillix.desktop"));
    EXPECT_FALSE(std::filesystem::exists(home.home + "/.local/share/nautilus/scripts/View with Quillix"));
    EXPECT_FALSE(std::filesystem::exists(home.home + "/.local/share/icons/hicolor/48x48/apps/quillix.png"));
    EXPECT_EQ(ReadText(home.home + "/.config/mimeapps.list"), "");
}

}  // namespace
