// quillix-crypt run as a program on folders prepared with the faults that used to cost pictures:
// what interrupted runs leave, a second run at the same time, full disks, pipes and folders,
// sizes and names at their limits, hard links, leftover temporary files.
#include "container/file_crypto.h"
#include "container/file_ops.h"
#include "container/key_derivation.h"
#include "container/sealed_container.h"
#include "container/strong_format.h"
#include "container/work_files.h"
#include "crypto/ciphers.h"
#include "support/secure_bytes.h"
#include "support/temp_dir.h"
#include "support/tree_watch.h"
#include "support/writer_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>

namespace quillix::cli {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kPassword = "pw";

// The program as a child process, its standard output and error going to `outputFile`.
pid_t Spawn(const std::vector<std::string>& args, const std::string& outputFile)
{
    std::vector<std::string> all = {QUILLIX_CRYPT};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || in < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

struct Finished {
    int status = -1;  // the exit status; -1 when it had to be killed
    bool killed = false;
};

// Waits for the child, killing it when it takes longer than `limit` (a pipe it waits on). The
// child's end wakes the wait; without pidfds (kernels before 5.3) the wait has no limit of its
// own, and the test's time limit stands in for it.
Finished Wait(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(60))
{
    const UniqueFd ended(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (ended) {
        const Clock::time_point deadline = Clock::now() + limit;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd ready{ended.get(), POLLIN, 0};
            const int n = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
            if (n > 0) break;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;  // cannot wait on it: wait without a limit
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return {-1, true};
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) return {-1, true};
    return {WEXITSTATUS(status), false};
}

struct Outcome {
    int status;
    std::string output;
};

// Every safety test runs once for each container format.
enum class Format { Compatible, Strong };

// The settings, the password file and the output live apart from the folder worked on, so that
// the folder holds only what the commands leave there. New containers are of `format`.
class Tool {
public:
    explicit Tool(Format format) : format_(format) { WriteFile(aside_ / "pw", std::string(kPassword) + "\n"); }

    std::vector<std::string> Args(std::vector<std::string> args) const
    {
        std::vector<std::string> common = {"-p",       aside_ / "pw", "--settings", aside_ / "none.ini",
                                           "--passes", "1",           "--fast"};
        if (format_ == Format::Strong) common.insert(common.end(), {"-c", "strong"});
        args.insert(args.begin() + 1, common.begin(), common.end());
        return args;
    }

    pid_t Start(const std::vector<std::string>& args, const std::string& output = "out") const
    {
        return Spawn(Args(args), aside_ / output);
    }

    Outcome operator()(const std::vector<std::string>& args) const
    {
        const Finished done = Wait(Start(args));
        return {done.killed ? -1 : done.status, test::ReadText(aside_ / "out")};
    }

    std::string Aside(const std::string& name) const { return aside_ / name; }

private:
    Format format_;
    TempDir aside_;
};

// The whole file in a few reads: pictures of 20 MB are compared after every kill.
Bytes Contents(const std::string& path)
{
    const UniqueFd fd = OpenFile(path, O_RDONLY);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return {};
    Bytes bytes(static_cast<std::size_t>(st.st_size));
    bytes.resize(static_cast<std::size_t>(std::max(0LL, ReadAt(fd.get(), bytes, 0))));
    return bytes;
}

Bytes Picture(std::size_t size, std::uint32_t seed)
{
    return test::PseudoRandomBytes(size, seed);
}

class QuillixCryptSafety : public testing::TestWithParam<Format> {
protected:
    bool Strong() const { return GetParam() == Format::Strong; }

    // The container of `plain` under the test password, as the program would have made it.
    Bytes Sealed(const Bytes& plain, const std::string& plainName, bool fileNamePW = true) const
    {
        if (Strong()) {
            TempDir aside;
            WriteFile(aside / plainName, plain);
            container::FileOptions options;
            options.EncryptionAlg = crypto::CipherStrong;
            const Result<std::string> sealed = container::EncryptToContainer(aside / plainName, kPassword, options);
            return sealed.ok() ? ReadFile(sealed.value()) : Bytes{};
        }
        container::SealOptions options;
        options.fast = true;
        return container::SealContainer(plain, container::BuildPasswordText(plainName, kPassword, fileNamePW),
                                        plainName, options)
            .value();
    }

    std::uint64_t ContainerLength(std::uint64_t plainLength) const
    {
        return Strong() ? container::StrongContainerLength(plainLength) : plainLength + container::kHeaderSize;
    }
};

INSTANTIATE_TEST_SUITE_P(Formats, QuillixCryptSafety, testing::Values(Format::Compatible, Format::Strong),
                         [](const testing::TestParamInfo<Format>& format) {
                             return format.param == Format::Strong ? "Strong" : "Compatible";
                         });

bool DecryptsTo(const std::string& path, const Bytes& plain, bool fileNamePW = true)
{
    const Result<crypto::SecureBytes> opened = container::DecryptContainerFile(path, kPassword, fileNamePW);
    return opened.ok() && opened.value() == plain;
}

std::set<std::string> WorkFiles(const TempDir& dir)
{
    std::set<std::string> found;
    for (const std::string& name : test::FileNames(dir))
        if (container::IsWorkFileName(name)) found.insert(name);
    return found;
}

// What an interrupted run leaves: some bytes of the file overwritten from its start.
Bytes HalfOverwritten(Bytes bytes)
{
    const Bytes noise = Picture(bytes.size() / 2, 99);
    std::copy(noise.begin(), noise.end(), bytes.begin());
    return bytes;
}

void MakeSparse(const std::string& path, std::uint64_t size)
{
    const UniqueFd fd = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_TRUE(fd);
    ASSERT_EQ(::ftruncate(fd.get(), static_cast<off_t>(size)), 0);
}

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

const std::string kLeftoverTemp = ".quillix-00112233445566aa.tmp";
const std::string kLeftoverWipe = ".quillix-00112233445566bb.wipe";

TEST_P(QuillixCryptSafety, FaultsInjectedIntoTheFolder)
{
    const Bytes P = Picture(120000, 1), Q = Picture(90000, 2);
    const std::string longName = std::string(194, 'n') + ".jpg";  // 198 bytes: 198 + "|pw" > 200
    const std::string fitting = std::string(193, 'n') + ".jpg";   // 197 bytes: exactly 200
    const std::string maxName = std::string(250, 'm') + ".jpg";   // 254 bytes, 255 with its "$"
    Bytes linkedContainer;

    struct Row {
        const char* what;
        // Prepares the folder; a descriptor returned stays open during the run.
        std::function<UniqueFd(const TempDir&)> setup;
        std::vector<std::string> args;  // "@name" stands for the file in the folder
        int status;
        std::vector<std::string> said;  // parts of what the program writes, "" for nothing at all
        std::function<void(const TempDir&)> check;
    };
    const auto none = [](const TempDir&) { return UniqueFd(); };
    // A setup that only writes files: name and bytes, in order.
    const auto Files = [](std::vector<std::pair<std::string, Bytes>> files) {
        return [files = std::move(files)](const TempDir& d) {
            for (const auto& [name, bytes] : files)
                WriteFile(d / name, bytes);
            return UniqueFd();
        };
    };
    const Row rows[] = {
        // Interrupted runs and files that are someone else's.
        {"a half-overwritten plain file next to its container: the old fault",
         Files({{"$photo.jpg", Sealed(P, "photo.jpg")}, {"photo.jpg", HalfOverwritten(P)}}),
         {"encrypt", "@photo.jpg"},
         1,
         {"$photo.jpg already exists"},
         [&](const TempDir& d) {
             EXPECT_TRUE(DecryptsTo(d / "$photo.jpg", P)) << "the good container stays";
             EXPECT_EQ(ReadFile(d / "photo.jpg"), HalfOverwritten(P));
         }},
        {"encrypt killed while wiping: the leftover wipe file is finished",
         Files({{"$photo.jpg", Sealed(P, "photo.jpg")}, {kLeftoverWipe, HalfOverwritten(P)}}),
         {"encrypt", "@photo.jpg"},
         0,
         {""},
         [&](const TempDir& d) {
             EXPECT_EQ(test::FileNames(d), std::set<std::string>{"$photo.jpg"});
             EXPECT_TRUE(DecryptsTo(d / "$photo.jpg", P));
         }},
        {"encrypt killed once its container was safe: the run is finished",
         Files({{"$photo.jpg", Sealed(P, "photo.jpg")}, {"photo.jpg", P}}),
         {"encrypt", "@photo.jpg"},
         0,
         {""},
         [&](const TempDir& d) {
             EXPECT_EQ(test::FileNames(d), std::set<std::string>{"$photo.jpg"});
             EXPECT_TRUE(DecryptsTo(d / "$photo.jpg", P));
         }},
        {"a container of another picture under that name",
         Files({{"$photo.jpg", Sealed(Q, "photo.jpg")}, {"photo.jpg", P}}),
         {"encrypt", "@photo.jpg"},
         1,
         {"already exists"},
         [&](const TempDir& d) {
             EXPECT_TRUE(DecryptsTo(d / "$photo.jpg", Q));
             EXPECT_EQ(ReadFile(d / "photo.jpg"), P);
         }},
        {"decrypt over another plain file of that name",
         Files({{"$photo.jpg", Sealed(P, "photo.jpg")}, {"photo.jpg", Q}}),
         {"decrypt", "@$photo.jpg"},
         1,
         {"photo.jpg already exists"},
         [&](const TempDir& d) {
             EXPECT_TRUE(DecryptsTo(d / "$photo.jpg", P));
             EXPECT_EQ(ReadFile(d / "photo.jpg"), Q);
         }},
        {"decrypt killed once the plain file was safe: the run is finished",
         Files({{"$photo.jpg", Sealed(P, "photo.jpg")}, {"photo.jpg", P}}),
         {"decrypt", "@$photo.jpg"},
         0,
         {""},
         [&](const TempDir& d) {
             EXPECT_EQ(test::FileNames(d), std::set<std::string>{"photo.jpg"});
             EXPECT_EQ(ReadFile(d / "photo.jpg"), P);
         }},
        {"decrypt killed while wiping the container",
         Files({{"photo.jpg", P}, {kLeftoverWipe, HalfOverwritten(Sealed(P, "photo.jpg"))}}),
         {"decrypt", "@$photo.jpg"},
         0,
         {""},
         [&](const TempDir& d) { EXPECT_EQ(test::FileNames(d), std::set<std::string>{"photo.jpg"}); }},

        // Pipes, folders and missing files.
        {"encrypt a pipe",
         [](const TempDir& d) {
             ::mkfifo((d / "pipe.jpg").c_str(), 0600);
             return UniqueFd();
         },
         {"encrypt", "@pipe.jpg"},
         1,
         {"pipe.jpg is not a regular file"},
         [](const TempDir& d) { EXPECT_TRUE(fs::is_fifo(d / "pipe.jpg")); }},
        {"decrypt a pipe",
         [](const TempDir& d) {
             ::mkfifo((d / "$pipe.jpg").c_str(), 0600);
             return UniqueFd();
         },
         {"decrypt", "@$pipe.jpg"},
         1,
         {"$pipe.jpg is not a regular file"},
         [](const TempDir& d) { EXPECT_TRUE(fs::is_fifo(d / "$pipe.jpg")); }},
        {"verify a pipe",
         [](const TempDir& d) {
             ::mkfifo((d / "$pipe.jpg").c_str(), 0600);
             return UniqueFd();
         },
         {"verify", "@$pipe.jpg"},
         1,
         {"FAILED: not a regular file"},
         nullptr},
        {"cat a pipe",
         [](const TempDir& d) {
             ::mkfifo((d / "$pipe.jpg").c_str(), 0600);
             return UniqueFd();
         },
         {"cat", "@$pipe.jpg"},
         1,
         {"not a regular file"},
         nullptr},
        {"info on a pipe",
         [](const TempDir& d) {
             ::mkfifo((d / "pipe.jpg").c_str(), 0600);
             return UniqueFd();
         },
         {"info", "@pipe.jpg"},
         1,
         {"pipe.jpg: not a regular file"},
         nullptr},
        {"decrypt a missing file", none, {"decrypt", "@nothere.jpg"}, 1, {"No such file or directory"}, nullptr},
        {"decrypt a folder",
         [](const TempDir& d) {
             fs::create_directory(d / "somefolder");
             return UniqueFd();
         },
         {"decrypt", "@somefolder"},
         1,
         {"somefolder is a folder"},
         nullptr},
        {"decrypt a plain file: nothing to do",
         Files({{"plain.jpg", P}}),
         {"decrypt", "@plain.jpg"},
         0,
         {""},
         [&](const TempDir& d) { EXPECT_EQ(ReadFile(d / "plain.jpg"), P); }},
        {"a password file that is a folder",
         [](const TempDir& d) {
             fs::create_directory(d / "pwdir");
             return UniqueFd();
         },
         {"verify", "-p", "@pwdir", "@x.jpg"},
         2,
         {"cannot read password file", "Is a directory"},
         nullptr},

        // Sizes at the limit: refused before anything is written.
        {"AES container of 2^31 bytes",
         [](const TempDir& d) {
             MakeSparse(d / "big.jpg", container::MaxPlainLength(0) + 1);
             return UniqueFd();
         },
         {"encrypt", "-c", "aes", "@big.jpg"},
         1,
         {"big.jpg is too large"},
         [](const TempDir& d) { EXPECT_EQ(test::FileNames(d), std::set<std::string>{"big.jpg"}); }},
        {"Blowfish container with its marker at 2^31 bytes",
         [](const TempDir& d) {
             MakeSparse(d / "big.jpg", container::MaxPlainLength(1) + 1);
             return UniqueFd();
         },
         {"encrypt", "-c", "blowfish", "@big.jpg"},
         1,
         {"big.jpg is too large"},
         [](const TempDir& d) { EXPECT_EQ(test::FileNames(d), std::set<std::string>{"big.jpg"}); }},

        // Long names and the 200-byte cut of the password text, which a strong key does not have.
        {"a name that pushes the password past 200 bytes",
         Files({{longName, P}}),
         {"encrypt", "@" + longName},
         Strong() ? 0 : 1,
         Strong() ? std::vector<std::string>{""}
                  : std::vector<std::string>{"too long", "shorter name", "\"Password+FileName\" off"},
         [&](const TempDir& d) {
             if (Strong())
                 EXPECT_TRUE(DecryptsTo(d / ("$" + longName), P));
             else
                 EXPECT_EQ(test::FileNames(d), std::set<std::string>{longName});
         }},
        {"a name that leaves the whole password in",
         Files({{fitting, P}}),
         {"encrypt", "@" + fitting},
         0,
         {""},
         [&](const TempDir& d) { EXPECT_TRUE(DecryptsTo(d / ("$" + fitting), P)); }},
        {"a long name without the name in the password",
         Files({{longName, P}}),
         {"encrypt", "--no-filename-pw", "@" + longName},
         0,
         {""},
         [&](const TempDir& d) { EXPECT_TRUE(DecryptsTo(d / ("$" + longName), P, false)); }},
        {"an existing container whose password text was cut still decrypts",
         Files({{("$" + maxName), Sealed(P, maxName)}}),
         {"decrypt", "@$" + maxName},
         0,
         {""},
         [&](const TempDir& d) { EXPECT_EQ(ReadFile(d / maxName), P); }},
        {"a 255-byte container name is made",
         Files({{maxName, P}}),
         {"encrypt", "--no-filename-pw", "@" + maxName},
         0,
         {""},
         [&](const TempDir& d) {
             EXPECT_EQ(test::FileNames(d), std::set<std::string>{"$" + maxName});
             EXPECT_TRUE(DecryptsTo(d / ("$" + maxName), P, false));
         }},

        // Hard links.
        {"encrypt a picture with a second link",
         [&](const TempDir& d) {
             fs::create_directories(d / "a");
             fs::create_directories(d / "b");
             WriteFile(d / "a/photo.jpg", P);
             fs::create_hard_link(d / "a/photo.jpg", d / "b/backup.jpg");
             return UniqueFd();
         },
         {"encrypt", "@a/photo.jpg"},
         0,
         {"other hard links, which still hold the plain picture"},
         [&](const TempDir& d) {
             EXPECT_EQ(ReadFile(d / "b/backup.jpg"), P) << "the backup is not overwritten";
             EXPECT_FALSE(fs::exists(d / "a/photo.jpg"));
             EXPECT_TRUE(DecryptsTo(d / "a/$photo.jpg", P));
         }},
        {"decrypt a container with a second link",
         [&](const TempDir& d) {
             linkedContainer = Sealed(P, "photo.jpg");
             WriteFile(d / "$photo.jpg", linkedContainer);
             fs::create_hard_link(d / "$photo.jpg", d / "copy.bin");
             return UniqueFd();
         },
         {"decrypt", "@$photo.jpg"},
         0,
         {"other hard links, which still hold the encrypted picture"},
         [&](const TempDir& d) {
             EXPECT_EQ(ReadFile(d / "copy.bin"), linkedContainer) << "the other link is not overwritten";
             EXPECT_EQ(ReadFile(d / "photo.jpg"), P);
             EXPECT_FALSE(fs::exists(d / "$photo.jpg"));
         }},

        // Temporary files: private until named, leftovers of killed runs removed.
        {"the decrypted file takes the container's permissions",
         [&](const TempDir& d) {
             WriteFile(d / "$photo.jpg", Sealed(P, "photo.jpg"));
             fs::permissions(d / "$photo.jpg", fs::perms(0640));
             return UniqueFd();
         },
         {"decrypt", "@$photo.jpg"},
         0,
         {""},
         [&](const TempDir& d) { EXPECT_EQ(ModeOf(d / "photo.jpg"), 0640u); }},
        {"a killed decryption's plain temporary file is wiped and removed",
         Files({{"$photo.jpg", Sealed(P, "photo.jpg")}, {kLeftoverTemp, P}}),
         {"decrypt", "@$photo.jpg"},
         0,
         {""},
         [&](const TempDir& d) { EXPECT_EQ(test::FileNames(d), std::set<std::string>{"photo.jpg"}); }},
        {"a temporary file whose owner is at work is left alone",
         [&](const TempDir& d) {
             WriteFile(d / "photo.jpg", P);
             WriteFile(d / kLeftoverTemp, "being written");
             UniqueFd owner = OpenFile(d / kLeftoverTemp, O_RDONLY);
             ::flock(owner.get(), LOCK_EX);
             return owner;
         },
         {"encrypt", "@photo.jpg"},
         0,
         {""},
         [&](const TempDir& d) {
             EXPECT_EQ(test::FileNames(d), (std::set<std::string>{"$photo.jpg", kLeftoverTemp}));
             EXPECT_EQ(test::ReadText(d / kLeftoverTemp), "being written");
         }},
    };

    const Tool tool(GetParam());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const UniqueFd held = row.setup(dir);
        std::vector<std::string> args = row.args;
        for (std::string& arg : args)
            if (arg.front() == '@') arg = dir / arg.substr(1);
        const Outcome run = tool(args);
        EXPECT_EQ(run.status, row.status) << run.output;
        for (const std::string& part : row.said) {
            if (part.empty())
                EXPECT_EQ(run.output, "");
            else
                EXPECT_NE(run.output.find(part), std::string::npos) << run.output;
        }
        if (row.check) row.check(dir);
        if (!held) {
            EXPECT_EQ(WorkFiles(dir), std::set<std::string>{});
        }
    }
}

// A file that another program has open for writing is refused, as a failure: a copy would miss
// what that program goes on writing, and the wipe would destroy it.
TEST_P(QuillixCryptSafety, AFileAnotherProgramWritesIsLeftAlone)
{
    const Tool tool(GetParam());
    const Bytes P = Picture(200'000, 7);
    for (const bool encrypt : {true, false}) {
        SCOPED_TRACE(encrypt ? "encrypt" : "decrypt");
        TempDir dir;
        const std::string name = encrypt ? "photo.jpg" : "$photo.jpg";
        const std::string source = dir / name;
        Bytes expected = encrypt ? P : Sealed(P, "photo.jpg");
        WriteFile(source, expected);
        test::WriterProcess writer = test::WriterProcess::Start(source, test::WriterProcess::Opening::Now);
        ASSERT_TRUE(writer.Append("more"));

        const Outcome run = tool({encrypt ? "encrypt" : "decrypt", source});
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find(source + " is in use by another program"), std::string::npos) << run.output;
        ASSERT_TRUE(writer.Append(" and more"));
        writer.Close();
        const std::string appended = "more and more";
        expected.insert(expected.end(), appended.begin(), appended.end());
        EXPECT_EQ(ReadFile(source), expected);
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{name});
    }
}

// Two runs on one file a few milliseconds apart: one does the work, the other finds nothing
// left to do, and the picture comes through whole. An encryption and a decryption of the same
// picture at once end with exactly one of the two files, which holds the picture.
TEST_P(QuillixCryptSafety, TwoRunsAtOnce)
{
    const Tool tool(GetParam());
    const Bytes P = Picture(3'000'000, 5);
    TempDir dir;
    const std::string plain = dir / "photo.jpg", sealed = dir / "$photo.jpg";
    WriteFile(plain, P);
    const std::vector<std::string> encrypt = {"encrypt", plain}, decrypt = {"decrypt", sealed};
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(tool(encrypt).status, 0);
    const auto encryptTime = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    ASSERT_EQ(tool(decrypt).status, 0);

    const auto both = [&](const std::vector<std::string>& first, const std::vector<std::string>& second,
                          std::chrono::microseconds apart) {
        const pid_t a = tool.Start(first, "first");
        std::this_thread::sleep_for(apart);
        const pid_t b = tool.Start(second, "second");
        const Finished doneA = Wait(a), doneB = Wait(b);
        EXPECT_EQ(doneA.status, 0) << test::ReadText(tool.Aside("first"));
        EXPECT_EQ(doneB.status, 0) << test::ReadText(tool.Aside("second"));
    };
    for (int pair = 0; pair < 8; ++pair) {
        SCOPED_TRACE(testing::Message() << "pair " << pair);
        both(encrypt, encrypt, std::chrono::milliseconds(pair * 3));
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$photo.jpg"});
        ASSERT_TRUE(DecryptsTo(sealed, P));
        both(decrypt, decrypt, std::chrono::milliseconds(pair * 3));
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"photo.jpg"});
        ASSERT_TRUE(Contents(plain) == P);

        // The decryption starts while the encryption is at work, at a different moment each time.
        both(encrypt, decrypt, encryptTime * pair / 7);
        const std::set<std::string> names = test::FileNames(dir);
        if (names == std::set<std::string>{"$photo.jpg"}) {
            ASSERT_TRUE(DecryptsTo(sealed, P));
            ASSERT_EQ(tool(decrypt).status, 0);
        } else {
            ASSERT_EQ(names, std::set<std::string>{"photo.jpg"});
        }
        ASSERT_TRUE(Contents(plain) == P);
    }
}

// A run whose file another run finishes between the run choosing it and opening it: the picture
// has moved on to its other form, where there is nothing left to do, or for the opposite
// command the work itself. A large leftover, which a run finishes before anything else, holds
// that moment open: the other run does its work while this one overwrites the leftover.
TEST_P(QuillixCryptSafety, AnotherRunFinishesTheFileItChose)
{
    const Tool tool(GetParam());
    const Bytes P = Picture(100'000, 8);
    container::FileOptions options;
    options.EncryptionAlg = Strong() ? crypto::CipherStrong : crypto::CipherAes;
    options.Fast = true;
    options.Passes = 1;
    struct Row {
        const char* command;
        bool startSealed;
        bool otherEncrypts;
        const char* left;
    };
    const Row rows[] = {
        {"encrypt", false, true, "$photo.jpg"},
        {"decrypt", true, false, "photo.jpg"},
        {"decrypt", false, true, "photo.jpg"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.command << (row.startSealed ? " a container" : " a plain file"));
        TempDir dir;
        const std::string plain = dir / "photo.jpg", sealed = dir / "$photo.jpg", leftover = dir / kLeftoverWipe;
        if (row.startSealed)
            WriteFile(sealed, Sealed(P, "photo.jpg"));
        else
            WriteFile(plain, P);
        const Bytes leftoverBytes = Picture(32'000'000, 9);
        WriteFile(leftover, leftoverBytes);

        const pid_t child = tool.Start({row.command, row.command == std::string("encrypt") ? plain : sealed});
        // Its file is chosen once it writes over the leftover, which it holds locked meanwhile.
        const auto leftoverTouched = [&] {
            Bytes head(4096);
            const UniqueFd fd = OpenFile(leftover, O_RDONLY);
            return !fd || ReadAt(fd.get(), head, 0) != static_cast<long long>(head.size()) ||
                   !std::equal(head.begin(), head.end(), leftoverBytes.begin());
        };
        EXPECT_TRUE(test::TreeWatch(dir.path()).WaitFor(leftoverTouched, std::chrono::seconds(60)))
            << "the run never reached the leftover";
        const container::CryptOutcome other = row.otherEncrypts
                                                  ? container::EncryptFileWith(plain, kPassword, options)
                                                  : container::DecryptFileWith(sealed, kPassword, options);
        EXPECT_TRUE(other.ok()) << other.error.message;

        const Finished done = Wait(child);
        EXPECT_EQ(done.status, 0) << test::ReadText(tool.Aside("out"));
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{row.left});
        if (std::string(row.left) == "photo.jpg")
            EXPECT_TRUE(Contents(plain) == P);
        else
            EXPECT_TRUE(DecryptsTo(sealed, P));
    }
}

// Killed at random moments, then run again: after the kill the picture is still there (plain
// and whole, or in a container that decrypts to it), and after the rerun it is in the wanted
// state with no temporary or wipe file left.
TEST_P(QuillixCryptSafety, KilledAtAnyMomentThenRunAgain)
{
    const Tool tool(GetParam());
    const Bytes P = Picture(20'000'000, 11);
    TempDir dir;
    const std::string plain = dir / "photo.jpg", sealed = dir / "$photo.jpg";
    WriteFile(plain, P);
    const std::vector<std::string> encrypt = {"encrypt", plain}, decrypt = {"decrypt", sealed};

    // How long an undisturbed run takes here sets the range of the moments to kill at.
    const auto timed = [&](const std::vector<std::string>& args) {
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(tool(args).status, 0);
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    const double encryptTime = timed(encrypt);
    const double decryptTime = timed(decrypt);

    // A file whose inode, size and change time are those of one found good before holds the
    // same bytes: every write and every rename moves the change time on. Only such files skip
    // the full comparison.
    struct Known {
        struct stat st {};
        bool Same(const std::string& path) const
        {
            struct stat now {};
            return ::lstat(path.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_size == st.st_size &&
                   now.st_ctim.tv_sec == st.st_ctim.tv_sec && now.st_ctim.tv_nsec == st.st_ctim.tv_nsec;
        }
        void Remember(const std::string& path) { ::lstat(path.c_str(), &st); }
    };
    Known goodPlain, goodSealed;
    const auto expectRecoverable = [&](const char* when) {
        const bool hasPlain = fs::exists(plain), hasSealed = fs::exists(sealed);
        ASSERT_TRUE(hasPlain || hasSealed) << when;
        if (hasPlain && !goodPlain.Same(plain)) {
            ASSERT_TRUE(Contents(plain) == P) << when;
            goodPlain.Remember(plain);
        }
        if (hasSealed && !goodSealed.Same(sealed)) {
            ASSERT_TRUE(DecryptsTo(sealed, P)) << when;
            goodSealed.Remember(sealed);
        }
        for (const std::string& name : WorkFiles(dir))
            if (name.ends_with(".tmp")) {
                EXPECT_EQ(ModeOf(dir / name), 0600u) << name << " " << when;
            }
    };

    // Runs until each operation was killed at work thirty times, however fast or loaded this
    // machine is: a kill that finds the run over shortens the range of moments for that
    // operation. The round limit only stops a run that could never get there. Under a sanitizer
    // every run is many times slower and the sanitizer looks for races and bad memory, not for
    // unlucky moments, so ten kills each do there.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr int kWantedKills = 10;
#else
    constexpr int kWantedKills = 30;
#endif
    std::mt19937 random(20240917);
    constexpr int kMaxRounds = 400;
    int kills[2] = {0, 0}, rounds = 0;
    double range[2] = {0.9 * encryptTime, 0.9 * decryptTime};
    for (; (kills[0] < kWantedKills || kills[1] < kWantedKills) && rounds < kMaxRounds; ++rounds) {
        for (const bool encrypting : {true, false}) {
            const std::vector<std::string>& args = encrypting ? encrypt : decrypt;
            const int op = encrypting ? 0 : 1;
            const pid_t child = tool.Start(args);
            std::this_thread::sleep_for(
                std::chrono::duration<double>(std::uniform_real_distribution<double>(0.0, range[op])(random)));
            ::kill(child, SIGKILL);
            if (Wait(child).killed)
                ++kills[op];
            else
                range[op] *= 0.8;
            expectRecoverable("after the kill");

            const Outcome again = tool(args);
            EXPECT_EQ(again.status, 0) << again.output;
            expectRecoverable("after the rerun");
            EXPECT_EQ(test::FileNames(dir), std::set<std::string>{encrypting ? "$photo.jpg" : "photo.jpg"});
            if (HasFatalFailure()) return;
        }
    }
    EXPECT_GE(kills[0], kWantedKills) << "encryption killed at work " << kills[0] << " times in " << rounds
                                      << " rounds";
    EXPECT_GE(kills[1], kWantedKills) << "decryption killed at work " << kills[1] << " times in " << rounds
                                      << " rounds";
}

// A small file system of its own, mounted in a private mount namespace so that nothing outside
// this test process sees it.
class SmallTmpfs {
public:
    explicit SmallTmpfs(const std::string& where, const char* size) : where_(where)
    {
        if (::geteuid() != 0) {
            why_ = "mounting a small tmpfs needs root";
            return;
        }
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            why_ = std::string("no private mount namespace here: ") + std::strerror(errno);
            return;
        }
        const std::string options = std::string("size=") + size;
        if (::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            why_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallTmpfs()
    {
        if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }

    std::uint64_t Free() const
    {
        struct statvfs st {};
        ::statvfs(where_.c_str(), &st);
        return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    }

    // Fills the file system until `free` bytes are left.
    void LeaveFree(const std::string& fillerPath, std::uint64_t free) const
    {
        const std::uint64_t now = Free();
        if (now > free) WriteFile(fillerPath, Bytes(static_cast<std::size_t>(now - free), 0));
    }

private:
    std::string where_;
    std::string why_;
    bool mounted_ = false;
};

TEST_P(QuillixCryptSafety, NearlyFullDisk)
{
    const Tool tool(GetParam());
    TempDir dir;
    const SmallTmpfs disk(dir.path(), "1m");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();

    // A pass that runs out of space past the file's own length has covered all of it.
    const Bytes P = Picture(200 * 1024, 21);
    WriteFile(dir / "photo.jpg", P);
    Outcome run = tool({"encrypt", "--passes", "3", dir / "photo.jpg"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$photo.jpg"});
    EXPECT_TRUE(DecryptsTo(dir / "$photo.jpg", P));

    // Decrypting without room for the plain file fails and leaves nothing behind.
    disk.LeaveFree(dir / "filler", 100 * 1024);
    run = tool({"decrypt", dir / "$photo.jpg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("No space left on device"), std::string::npos) << run.output;
    EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"$photo.jpg", "filler"}));
    EXPECT_TRUE(DecryptsTo(dir / "$photo.jpg", P));
    fs::remove(dir / "filler");

    // A file with holes needs new blocks to be overwritten: a pass can stop inside it. Its bytes
    // then no longer carry its name, and the warning says how far the overwriting got.
    MakeSparse(dir / "holes.jpg", 300 * 1024);
    {
        const UniqueFd fd = OpenFile(dir / "holes.jpg", O_WRONLY);
        ASSERT_EQ(::pwrite(fd.get(), "end", 3, 300 * 1024 - 3), 3);
    }
    disk.LeaveFree(dir / "filler", 360 * 1024);
    run = tool({"encrypt", dir / "holes.jpg"});
    EXPECT_EQ(run.status, 1) << run.output;
    for (const char* part : {"Secure overwrite failed.", "holes.jpg no longer has its name: it was moved to .quillix-",
                             "pass 1 stopped after", "of its 307200 bytes (No space left on device)",
                             "The next encryption or decryption in this folder overwrites and removes it."})
        EXPECT_NE(run.output.find(part), std::string::npos) << part << "\n" << run.output;
    EXPECT_FALSE(fs::exists(dir / "holes.jpg"));
    EXPECT_EQ(WorkFiles(dir).size(), 1u);
    EXPECT_EQ(ReadFile(dir / "$holes.jpg").size(), ContainerLength(300 * 1024));

    fs::remove(dir / "filler");
    run = tool({"encrypt", dir / "holes.jpg"});  // already encrypted: only the leftover is finished
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"$photo.jpg", "$holes.jpg"}));
}

}  // namespace
}  // namespace quillix::cli
