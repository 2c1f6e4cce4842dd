#include "cli/quillix_crypt.h"
#include "common/paths.h"
#include "container/container_file.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <vector>

namespace quillix::cli {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// Runs the tool with scripted input, terminal answers and fixed defaults (or the real settings
// loader when `realDefaults`).
struct Cli {
    std::string stdinText;
    std::vector<std::string> terminalAnswers;
    int terminalPrompts = 0;
    container::FileOptions defaults = [] {
        container::FileOptions o;
        o.Passes = 1;
        return o;
    }();
    bool realDefaults = false;
    bool terminalErr = false;

    CliRun operator()(std::vector<std::string> args)
    {
        std::istringstream in(stdinText);
        std::ostringstream out, err;
        Environment env;
        env.in = &in;
        env.out = &out;
        env.err = &err;
        env.askTerminal = [this](const std::string&) -> std::optional<std::string> {
            if (terminalPrompts >= static_cast<int>(terminalAnswers.size())) return std::nullopt;
            return terminalAnswers[static_cast<std::size_t>(terminalPrompts++)];
        };
        if (realDefaults)
            env.loadDefaults = LoadDefaults;
        else
            env.loadDefaults = [this](const std::string& file) { return Defaults{defaults, file}; };
        env.progressOnErr = terminalErr;
        env.terminalWidth = [] { return std::size_t{40}; };
        const int status = RunQuillixCrypt(args, env);
        return {status, out.str(), err.str()};
    }
};

TEST(QuillixCrypt, RoundTripsByteForByte)
{
    struct Row {
        const char* cipher;
        int alg;
        const char* fast;
        const char* fileNamePW;
        const char* maxMib;
        std::size_t size;
    };
    const Row rows[] = {
        {"aes", 0, "--fast", "--filename-pw", "0", 5000},
        {"blowfish", 1, "--fast", "--no-filename-pw", "0", 9000},
        {"chacha20", 2, "--no-fast", "--filename-pw", "1", 1'200'000},
        {"twofish", 3, "--fast", "--no-filename-pw", "1", 1'100'000},
        {"twofish", 3, "--no-fast", "--no-filename-pw", "0", 300},
        // The strong container has no fast mode, no name in its key and no partial encryption.
        {"strong", 4, "--fast", "--filename-pw", "1", 1'200'000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.cipher << " " << row.fast << " " << row.fileNamePW);
        TempDir dir;
        const std::string plain = dir / "photo.jpg", pw = dir / "pw.txt";
        WriteFile(plain, test::PseudoRandomBytes(row.size));
        WriteFile(pw, "  correct horse \r\n");
        Cli cli;
        const std::vector<std::string> opts = {"-p",           pw,          "-c",       row.cipher, row.fast,
                                               row.fileNamePW, "--max-mib", row.maxMib, "--passes", "1"};
        auto args = std::vector<std::string>{"encrypt"};
        args.insert(args.end(), opts.begin(), opts.end());
        args.push_back(plain);
        const CliRun enc = cli(args);
        ASSERT_EQ(enc.status, kExitOk) << enc.err;
        EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"$photo.jpg", "pw.txt"}));
        EXPECT_EQ(container::IsStrongContainer(dir / "$photo.jpg"), row.alg == 4);
        if (row.alg < 4) {
            EXPECT_EQ(container::ReadTrailerMarker(dir / "$photo.jpg"), row.alg);
            const std::uint32_t expectedEnc = std::string(row.maxMib) == "1" ? 1'048'576u : 0u;
            EXPECT_EQ(container::ReadContainerHeader(dir / "$photo.jpg").value().header.encBytes, expectedEnc);
        }

        WriteFile(pw, "correct horse");  // trimmed the same way
        const CliRun verify = cli({"verify", "-p", pw, row.fileNamePW, dir / "$photo.jpg"});
        EXPECT_EQ(verify.status, kExitOk) << verify.err;
        EXPECT_EQ(verify.out, dir / "$photo.jpg" + ": OK\n");

        const CliRun cat = cli({"cat", "-p", pw, row.fileNamePW, dir / "$photo.jpg"});
        ASSERT_EQ(cat.status, kExitOk) << cat.err;
        const auto expected = test::PseudoRandomBytes(row.size);
        EXPECT_EQ(cat.out, std::string(expected.begin(), expected.end()));
        EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"$photo.jpg", "pw.txt"}))
            << "cat writes nothing to disk";

        const CliRun dec =
            cli({"decrypt", "--password-file=" + pw, row.fileNamePW, "--passes", "0", dir / "$photo.jpg"});
        ASSERT_EQ(dec.status, kExitOk) << dec.err;
        EXPECT_EQ(ReadFile(plain), test::PseudoRandomBytes(row.size));
        EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"photo.jpg", "pw.txt"}));
    }
}

TEST(QuillixCrypt, TamperingFailsAndTouchesNothing)
{
    TempDir dir;
    const std::string plain = dir / "a.png", pw = dir / "pw";
    WriteFile(plain, test::PseudoRandomBytes(30000));
    WriteFile(pw, "pw\n");
    Cli cli;
    ASSERT_EQ(cli({"encrypt", "-p", pw, "-c", "chacha20", plain}).status, kExitOk);
    const std::string container = dir / "$a.png";
    const auto good = ReadFile(container);
    for (std::size_t at : {std::size_t{9}, std::size_t{13}, std::size_t{40}, std::size_t{45}, std::size_t{60},
                           std::size_t{84}, std::size_t{20000}, good.size() - 8}) {
        auto bad = good;
        bad[at] ^= 0x04;
        WriteFile(container, bad);
        const CliRun verify = cli({"verify", "-p", pw, container});
        EXPECT_EQ(verify.status, kExitFailed) << "byte " << at;
        EXPECT_EQ(verify.out, container + ": FAILED: wrong password or damaged file\n") << "byte " << at;
        EXPECT_EQ(cli({"decrypt", "-p", pw, container}).status, kExitFailed) << "byte " << at;
        EXPECT_EQ(cli({"cat", "-p", pw, container}).out, "") << "byte " << at;
        EXPECT_EQ(ReadFile(container), bad);
        EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"$a.png", "pw"}));
    }
}

TEST(QuillixCrypt, ReasonsAndMixedResults)
{
    TempDir dir;
    const std::string pw = dir / "pw";
    WriteFile(pw, "pw");
    WriteFile(dir / "one.jpg", test::PseudoRandomBytes(100, 1));
    WriteFile(dir / "two.jpg", test::PseudoRandomBytes(100, 2));
    WriteFile(dir / "$plain.jpg", std::string(200, 'x'));
    Cli cli;
    ASSERT_EQ(cli({"encrypt", "-p", pw, dir / "one.jpg", dir / "two.jpg"}).status, kExitOk);
    auto v1 = ReadFile(dir / "$two.jpg");
    v1[4] = 1;  // version 1
    WriteFile(dir / "$old.jpg", v1);

    const CliRun verify =
        cli({"verify", "-p", pw, dir / "$one.jpg", dir / "$plain.jpg", dir / "$old.jpg", dir / "$none.jpg"});
    EXPECT_EQ(verify.status, kExitFailed);
    EXPECT_EQ(verify.out, dir / "$one.jpg" + ": OK\n" + dir / "$plain.jpg" + ": FAILED: not a container\n" +
                              dir / "$old.jpg" + ": FAILED: bad header (unknown container version)\n" +
                              dir / "$none.jpg" + ": FAILED: cannot open " + dir / "$none.jpg" +
                              ": No such file or directory\n");

    // One bad file does not stop the others; a file already in the wanted state is success.
    const CliRun dec = cli({"decrypt", "-p", pw, dir / "$old.jpg", dir / "one.jpg", dir / "$two.jpg"});
    EXPECT_EQ(dec.status, kExitFailed);
    EXPECT_NE(dec.err.find("$old.jpg: bad header (unknown container version)"), std::string::npos) << dec.err;
    EXPECT_TRUE(fs::exists(dir / "one.jpg")) << "named by its plain name while only $one.jpg existed";
    EXPECT_TRUE(fs::exists(dir / "two.jpg"));
    EXPECT_EQ(cli({"decrypt", "-p", pw, dir / "two.jpg"}).status, kExitOk) << "already plain";
    EXPECT_EQ(cli({"encrypt", "-p", pw, dir / "$plain.jpg"}).status, kExitOk) << "already a container";

    WriteFile(pw, "wrong");
    const CliRun wrong = cli({"cat", "-p", pw, dir / "$old.jpg"});
    EXPECT_EQ(wrong.status, kExitFailed);
}

// A file that changed while it was worked on is no reason to call it "not a container".
TEST(QuillixCrypt, EachFailureKindHasItsOwnReason)
{
    const struct {
        ErrorKind kind;
        const char* message;
        const char* reason;
    } rows[] = {
        {ErrorKind::BadHeader, "not a container", "not a container"},
        {ErrorKind::BadHeader, "unknown container version", "bad header (unknown container version)"},
        {ErrorKind::Truncated, "shorter than its header says", "not a container (shorter than its header says)"},
        {ErrorKind::Changed, "container changed while read",
         "changed meanwhile, try again (container changed while read)"},
        {ErrorKind::WrongPassword, "MAC mismatch", "wrong password or damaged file"},
        {ErrorKind::Io, "cannot open /d/a.jpg: Permission denied", "cannot open /d/a.jpg: Permission denied"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FailureReason(Error{row.kind, row.message}), row.reason) << row.message;
}

// Files of very different sizes finish out of order on several workers; what is printed follows
// the order they were given in, as with one worker.
TEST(QuillixCrypt, SeveralJobsReportInTheOrderGiven)
{
    TempDir dir;
    const std::string pw = dir / "pw";
    WriteFile(pw, "pw");
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        const std::string name = dir / ("f" + std::to_string(10 + i) + ".jpg");
        // Every third is empty, which encryption refuses.
        WriteFile(name,
                  test::PseudoRandomBytes(i % 3 == 0 ? 0 : (i % 2 ? 3'000'000 : 100), static_cast<std::uint32_t>(i)));
        files.push_back(name);
    }
    Cli cli;
    std::vector<std::string> args{"encrypt", "-p", pw};
    const auto run = [&](const char* jobs, const std::string& command) {
        std::vector<std::string> a{command, "-p", pw, "--jobs", jobs};
        for (const std::string& f : files)
            a.push_back(command == "verify" ? FolderOf(f) + "$" + FileNameOf(f) : f);
        return cli(a);
    };
    const CliRun four = run("4", "encrypt");
    EXPECT_EQ(four.status, kExitFailed);
    std::string expected;
    for (int i = 0; i < 12; i += 3)
        expected += files[static_cast<std::size_t>(i)] + ": " + files[static_cast<std::size_t>(i)] + " is empty\n";
    EXPECT_EQ(four.err, expected);
    const CliRun verifyOne = run("1", "verify");
    const CliRun verifyFour = run("4", "verify");
    EXPECT_EQ(verifyFour.out, verifyOne.out);
    EXPECT_NE(verifyOne.out.find("f11.jpg: OK\n" + dir / "$f12.jpg: OK\n" + dir / "$f13.jpg: FAILED"),
              std::string::npos)
        << verifyOne.out;
    EXPECT_EQ(cli({"encrypt", "-p", pw, "--jobs", "0", files[1]}).status, kExitUsage);
    EXPECT_EQ(cli({"encrypt", "-p", pw, "-j", "x", files[1]}).status, kExitUsage);
}

// On a terminal one line on standard error shows the progress and is cleared before a message
// and at the end; without a terminal nothing but the messages is written there.
TEST(QuillixCrypt, ProgressLineOnATerminal)
{
    TempDir dir;
    const std::string pw = dir / "pw";
    WriteFile(pw, "pw");
    WriteFile(dir / "a-rather-long-name-of-a-picture.jpg", test::PseudoRandomBytes(100, 1));
    WriteFile(dir / "empty.jpg", std::string());
    Cli cli;
    cli.terminalErr = true;
    const CliRun shown =
        cli({"encrypt", "-p", pw, "-j", "1", dir / "a-rather-long-name-of-a-picture.jpg", dir / "empty.jpg"});
    // Cut to the terminal's 40 columns less one.
    const std::string start = "\r\x1b[Kencrypting 0/2  a-rather-long-name-of-a";
    EXPECT_EQ(shown.err.substr(0, start.size()), start);
    // How many results each wake-up brings depends on timing; the message line is whole.
    EXPECT_NE(shown.err.find("\r\x1b[K" + dir / "empty.jpg: " + dir / "empty.jpg is empty\n"), std::string::npos)
        << shown.err;
    const std::string end = "\r\x1b[Kencrypting 2/2\r\x1b[K";
    ASSERT_GE(shown.err.size(), end.size());
    EXPECT_EQ(shown.err.substr(shown.err.size() - end.size()), end);
    cli.terminalErr = false;
    WriteFile(dir / "b.jpg", test::PseudoRandomBytes(100, 2));
    EXPECT_EQ(cli({"encrypt", "-p", pw, dir / "b.jpg"}).err, "");
}

TEST(QuillixCrypt, PasswordSources)
{
    TempDir dir;
    WriteFile(dir / "a.jpg", test::PseudoRandomBytes(50));
    Cli cli;
    cli.stdinText = "from stdin\nsecond line\n";
    ASSERT_EQ(cli({"encrypt", "-p", "-", dir / "a.jpg"}).status, kExitOk);
    cli.stdinText = " from stdin \n";
    EXPECT_EQ(cli({"verify", "--password-file", "-", dir / "$a.jpg"}).status, kExitOk);

    // On the terminal: once to read, twice to encrypt.
    cli.terminalAnswers = {"from stdin"};
    EXPECT_EQ(cli({"verify", dir / "$a.jpg"}).status, kExitOk);
    EXPECT_EQ(cli.terminalPrompts, 1);
    WriteFile(dir / "b.jpg", test::PseudoRandomBytes(60));
    cli.terminalPrompts = 0;
    cli.terminalAnswers = {"typed", "typo"};
    const CliRun differ = cli({"encrypt", dir / "b.jpg"});
    EXPECT_EQ(differ.status, kExitUsage);
    EXPECT_TRUE(fs::exists(dir / "b.jpg"));

    const struct {
        std::vector<std::string> args;
        const char* why;
    } usage[] = {
        {{"verify", "-p", dir / "no-such-file", dir / "$a.jpg"}, "unreadable password file"},
        {{"verify", "-p", "-", dir / "$a.jpg"}, "nothing on standard input"},
        {{"verify", dir / "$a.jpg"}, "no terminal"},
        {{"encrypt", "-c", "rot13", dir / "b.jpg"}, "unknown cipher"},
        {{"encrypt", "--max-mib", "-1", dir / "b.jpg"}, "negative size"},
        {{"encrypt", "--passes", "x", dir / "b.jpg"}, "not a number"},
        {{"encrypt", "--passes", "-1", dir / "b.jpg"}, "negative passes"},
        {{"encrypt", "--passes=36", dir / "b.jpg"}, "more than 35 passes"},
        {{"encrypt", "--frobnicate", dir / "b.jpg"}, "unknown option"},
        {{"encrypt", "--fast=no", dir / "b.jpg"}, "a flag with a value"},
        {{"encrypt", dir / "b.jpg", "-c"}, "an option without its value"},
        {{"encrypt"}, "no file"},
        {{"cat", "-p", "-", "x", "y"}, "cat takes one file"},
        {{"shred", "x"}, "unknown command"},
        {{}, "nothing at all"},
    };
    for (const auto& u : usage) {
        Cli fresh;
        EXPECT_EQ(fresh(u.args).status, kExitUsage) << u.why;
    }
    EXPECT_NE(Cli{}({"encrypt", "--passes", "36", dir / "b.jpg"}).err.find("--passes takes 0 to 35"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "b.jpg"));
    WriteFile(dir / "blank", "   \n");
    EXPECT_EQ(cli({"verify", "-p", dir / "blank", dir / "$a.jpg"}).status, kExitUsage) << "blank password";
}

TEST(QuillixCrypt, InfoLinePerFile)
{
    TempDir dir;
    WriteFile(dir / "pw", "pw");
    WriteFile(dir / "a.jpg", test::PseudoRandomBytes(6));
    Cli cli;
    ASSERT_EQ(cli({"encrypt", "-p", dir / "pw", "-c", "chacha20", "--no-fast", "--max-mib", "1", dir / "a.jpg"}).status,
              kExitOk);
    // A strong container of an empty file is shorter than a compatible header, and needs no "$".
    WriteFile(dir / "empty.jpg", "");
    ASSERT_EQ(cli({"encrypt", "-p", dir / "pw", "-c", "strong", dir / "empty.jpg"}).status, kExitOk);
    fs::rename(dir / "$empty.jpg", dir / "empty.jpg");
    WriteFile(dir / "plain.jpg", std::string(200, 'x'));
    WriteFile(dir / "short.jpg", "QLX1");

    const CliRun run =
        cli({"info", dir / "$a.jpg", dir / "empty.jpg", dir / "missing.jpg", dir / "plain.jpg", dir / "short.jpg"});
    EXPECT_EQ(run.status, kExitFailed) << "the missing file fails, the others are still answered";
    EXPECT_EQ(run.out, dir / "$a.jpg" + ": version=2  alg=2  iters=200000  encBytes=6\n" + dir / "empty.jpg" +
                           ": version=3  kdf=Argon2id  passes=3  memory=65536 KiB\n" + dir / "plain.jpg" +
                           ": not a container\n" + dir / "short.jpg" + ": not a container\n");
    EXPECT_NE(run.err.find("missing.jpg: No such file or directory"), std::string::npos) << run.err;
    EXPECT_EQ(cli({"info", dir / "plain.jpg"}).status, kExitOk);
}

TEST(QuillixCrypt, DefaultsComeFromTheSettingsFile)
{
    TempDir dir;
    WriteFile(dir / "pw", "pw");
    WriteFile(dir / "Quillix.ini", "\r\nEncryptionAlg=3\r\nFast=0\r\nFileNamePW=0\r\nmxb=1\r\npasses=0\r\n");
    WriteFile(dir / "a.jpg", test::PseudoRandomBytes(2'000'000));
    Cli cli;
    cli.realDefaults = true;
    ASSERT_EQ(cli({"encrypt", "-p", dir / "pw", "--settings", dir / "Quillix.ini", dir / "a.jpg"}).status, kExitOk);
    EXPECT_EQ(container::HeaderInfoOfFile(dir / "$a.jpg"), "version=2  alg=3  iters=200000  encBytes=1048576");
    EXPECT_EQ(cli({"verify", "-p", dir / "pw", "--no-filename-pw", dir / "$a.jpg"}).status, kExitOk);
    EXPECT_EQ(cli({"verify", "-p", dir / "pw", "--filename-pw", dir / "$a.jpg"}).status, kExitFailed);

    const CliRun help = cli({"--help", "--settings", dir / "Quillix.ini"});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_NE(help.out.find("Usage: quillix-crypt"), std::string::npos);
    EXPECT_NE(help.out.find("Defaults are read from: " + dir / "Quillix.ini"), std::string::npos);
    EXPECT_EQ(cli({"--version"}).out.rfind("quillix-crypt ", 0), 0u);
}

}  // namespace
}  // namespace quillix::cli
