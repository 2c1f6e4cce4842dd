// Batch runs killed at random moments never lose a picture: a driver built from the gallery's
// batch runner encrypts, then decrypts, 20 files in a child process, and the test kills it with
// SIGKILL after a random number of applied results and a random part of a file's time.
#include "common/unique_fd.h"
#include "container/file_ops.h"
#include "support/secure_bytes.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

namespace quillix::gallery {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr const char* kPassword = "pw";
constexpr int kFiles = 20;

struct Child {
    pid_t pid = -1;
    FILE* steps = nullptr;  // the driver's standard output
};

Child StartDriver(const std::string& command, const std::vector<std::string>& files)
{
    std::vector<std::string> all = {QUILLIX_BATCH_DRIVER, command, kPassword, "1"};
    all.insert(all.end(), files.begin(), files.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        ::dup2(null, 0);
        ::dup2(pipeFds[1], 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return {pid, ::fdopen(pipeFds[0], "r")};
}

// Reads `count` step lines; false when the driver ended first.
bool ReadSteps(FILE* steps, int count)
{
    char line[64];
    for (int i = 0; i < count; ++i)
        if (!std::fgets(line, sizeof line, steps)) return false;
    return true;
}

struct Ending {
    int status = -1;      // the exit status; -1 when a signal ended the driver
    bool killed = false;  // the kill found it still running
};

Ending End(Child& child, bool kill)
{
    if (kill) ::kill(child.pid, SIGKILL);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    std::fclose(child.steps);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL};
}

int Finish(Child& child, bool kill)
{
    return End(child, kill).status;
}

class BatchKillTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "p" + std::to_string(100 + i) + ".jpg";
            pictures_.push_back(test::PseudoRandomBytes(150'000 + 20'000 * static_cast<std::size_t>(i),
                                                        static_cast<std::uint32_t>(i + 1)));
            test::WriteFile(dir_ / name, pictures_.back());
            names_.push_back(name);
        }
    }

    // Each picture is still there: a plain file holding it, or a container that decrypts to it.
    void ExpectRecoverable(const std::string& when)
    {
        for (int i = 0; i < kFiles; ++i) {
            const std::string plain = dir_ / names_[static_cast<std::size_t>(i)];
            const std::string sealed = dir_ / ("$" + names_[static_cast<std::size_t>(i)]);
            const Bytes& expected = pictures_[static_cast<std::size_t>(i)];
            bool found = false;
            if (fs::exists(plain)) {
                ASSERT_TRUE(test::ReadFile(plain) == expected) << plain << " " << when;
                found = true;
            }
            if (fs::exists(sealed)) {
                const Result<crypto::SecureBytes> opened = container::DecryptContainerFile(sealed, kPassword, true);
                ASSERT_TRUE(opened.ok() && opened.value() == expected) << sealed << " " << when;
                found = true;
            }
            ASSERT_TRUE(found) << names_[static_cast<std::size_t>(i)] << " is gone " << when;
        }
    }

    // The files a run is given: each picture under the name it has now.
    std::vector<std::string> Files(bool encrypt) const
    {
        std::vector<std::string> files;
        for (const std::string& name : names_) {
            const std::string plain = dir_ / name, sealed = dir_ / ("$" + name);
            files.push_back(encrypt ? (fs::exists(plain) ? plain : sealed) : (fs::exists(sealed) ? sealed : plain));
        }
        return files;
    }

    test::TempDir dir_;
    std::vector<std::string> names_;
    std::vector<Bytes> pictures_;
};

TEST_F(BatchKillTest, KilledAtRandomTicksThenRunAgain)
{
    std::mt19937 random(20250101);
    // How long one file takes sets how far into a file a kill may come.
    const Clock::time_point start = Clock::now();
    Child timing = StartDriver("encrypt", Files(true));
    ASSERT_EQ(Finish(timing, false), 0);
    const auto perFile = (Clock::now() - start) / kFiles;
    ExpectRecoverable("after a whole run");
    Child back = StartDriver("decrypt", Files(false));
    ASSERT_EQ(Finish(back, false), 0);

    // Runs until twelve kills found the driver at work, however fast this machine is; the round
    // limit only stops a run that could never get there.
    constexpr int kWantedKills = 12, kMaxRounds = 60;
    int kills = 0, rounds = 0;
    for (; kills < kWantedKills && rounds < kMaxRounds; ++rounds) {
        for (const bool encrypt : {true, false}) {
            SCOPED_TRACE(testing::Message() << "round " << rounds << (encrypt ? " encrypting" : " decrypting"));
            Child child = StartDriver(encrypt ? "encrypt" : "decrypt", Files(encrypt));
            const int ticks = std::uniform_int_distribution<int>(0, kFiles - 1)(random);
            ReadSteps(child.steps, ticks);
            std::this_thread::sleep_for(std::uniform_real_distribution<double>(0.0, 1.5)(random) * perFile);
            if (End(child, true).killed) ++kills;
            ExpectRecoverable("after the kill");
            if (HasFatalFailure()) return;

            // Run again to the end: every picture in the wanted state, nothing else in the folder.
            Child again = StartDriver(encrypt ? "encrypt" : "decrypt", Files(encrypt));
            EXPECT_EQ(Finish(again, false), 0);
            ExpectRecoverable("after the rerun");
            if (HasFatalFailure()) return;
            std::set<std::string> wanted;
            for (const std::string& name : names_)
                wanted.insert(encrypt ? "$" + name : name);
            EXPECT_EQ(test::FileNames(dir_), wanted);
        }
    }
    EXPECT_GE(kills, kWantedKills) << "only " << kills << " of " << 2 * rounds << " kills found the driver running";
}

}  // namespace
}  // namespace quillix::gallery
