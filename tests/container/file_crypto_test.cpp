#include "container/container_file.h"
#include "container/file_crypto.h"
#include "support/file_size_limit.h"
#include "support/hex.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace quillix::container {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct Fixture {
    test::ScriptedDialogs dialogs;
    FileOptions options;
    int optionReads = 0;
    int passwordEntered = 0;
    std::vector<std::string> changed;
    FileCrypto crypto{dialogs, FileCrypto::Hooks{
                                   [this] {
                                       ++optionReads;
                                       return options;
                                   },
                                   [this] { ++passwordEntered; },
                                   [this](const std::string& path) { changed.push_back(path); },
                                   nullptr,
                               }};
    Fixture() { options.Passes = 1; }
};

TEST(PasswordPrompt, TrimmedAndBlankAnswers)
{
    struct Row {
        std::optional<std::string> typed;
        bool accepted;
        const char* password;
    };
    const Row rows[] = {
        {std::nullopt, false, ""},
        {"", false, ""},
        {"   \t ", false, ""},
        {"  pw\t\r\n", true, "pw"},
        {"\x01two words\x7f", true, "two words"},
    };
    for (const Row& row : rows) {
        Fixture f;
        f.dialogs.passwords.push_back(row.typed);
        EXPECT_EQ(f.crypto.EnsurePassword(false), row.accepted);
        EXPECT_EQ(f.crypto.ActivePassword(), row.password);
        EXPECT_EQ(f.passwordEntered, row.accepted ? 1 : 0) << "the viewer reloads only for a new password";
    }

    Fixture f;
    EXPECT_FALSE(f.crypto.EnsurePassword(true));
    EXPECT_EQ(f.dialogs.passwordPrompts, 0) << "noPrompt never asks";
    f.dialogs.passwords.push_back("pw");
    EXPECT_TRUE(f.crypto.EnsurePassword(false));
    EXPECT_TRUE(f.crypto.EnsurePassword(false));
    EXPECT_EQ(f.dialogs.passwordPrompts, 1) << "asked once per run";
    f.crypto.ClearPassword();
    EXPECT_FALSE(f.crypto.EnsurePassword(true));
}

TEST(FileCryptoOps, EncryptThenDecryptInPlace)
{
    Fixture f;
    TempDir dir;
    const std::string plainPath = dir / "photo.jpg";
    const std::vector<std::uint8_t> plain(5000, 0x42);
    WriteFile(plainPath, plain);

    f.dialogs.passwords.push_back("pw");
    const std::string container = f.crypto.EncryptFile(plainPath);
    EXPECT_EQ(container, dir / "$photo.jpg");
    EXPECT_FALSE(fs::exists(plainPath)) << "the plain file is securely deleted";
    EXPECT_EQ(f.changed, std::vector<std::string>{plainPath});
    EXPECT_TRUE(f.dialogs.messages.empty());

    EXPECT_EQ(f.crypto.EncryptFile(container), container) << "already encrypted: nothing to do";
    std::vector<std::uint8_t> stream;
    EXPECT_TRUE(f.crypto.DecryptToStream(container, stream));
    EXPECT_EQ(stream, plain);

    EXPECT_EQ(f.crypto.DecryptFile(container), plainPath);
    EXPECT_FALSE(fs::exists(container));
    EXPECT_EQ(ReadFile(plainPath), plain);
    EXPECT_EQ(f.crypto.DecryptFile(plainPath), plainPath);
    EXPECT_EQ(f.dialogs.passwordPrompts, 1);
}

TEST(FileCryptoOps, NoPasswordNoChange)
{
    Fixture f;
    TempDir dir;
    WriteFile(dir / "a.jpg", "abc");
    f.dialogs.passwords.push_back("   ");
    EXPECT_EQ(f.crypto.EncryptFile(dir / "a.jpg"), "");
    EXPECT_EQ(ReadFile(dir / "a.jpg"), test::Bytes("abc"));
    EXPECT_FALSE(fs::exists(dir / "$a.jpg"));
}

TEST(FileCryptoOps, WrongPasswordKeepsTheContainer)
{
    Fixture f;
    TempDir dir;
    WriteFile(dir / "a.jpg", "abcdef");
    f.dialogs.passwords.push_back("right");
    ASSERT_EQ(f.crypto.EncryptFile(dir / "a.jpg"), dir / "$a.jpg");
    f.crypto.ClearPassword();
    f.dialogs.passwords.push_back("wrong");
    EXPECT_EQ(f.crypto.DecryptFile(dir / "$a.jpg"), "");
    EXPECT_EQ(f.crypto.LastError(), "wrong password or damaged file");
    EXPECT_TRUE(fs::exists(dir / "$a.jpg"));
    EXPECT_FALSE(fs::exists(dir / "a.jpg"));
}

// "Fast" is taken fresh for every file, so a change between two encryptions shows at once.
TEST(FileCryptoOps, OptionsAreReadForEveryFile)
{
    Fixture f;
    TempDir dir;
    WriteFile(dir / "a.jpg", "aaaa");
    WriteFile(dir / "b.jpg", "bbbb");
    f.dialogs.passwords.push_back("pw");
    f.options.Fast = true;
    ASSERT_FALSE(f.crypto.EncryptFile(dir / "a.jpg").empty());
    f.options.Fast = false;
    f.options.EncryptionAlg = 3;
    ASSERT_FALSE(f.crypto.EncryptFile(dir / "b.jpg").empty());
    EXPECT_EQ(HeaderInfoOfFile(dir / "$a.jpg"), "version=2  alg=0  iters=20000  encBytes=4");
    EXPECT_EQ(HeaderInfoOfFile(dir / "$b.jpg"), "version=2  alg=3  iters=200000  encBytes=4");
    EXPECT_EQ(f.optionReads, 2);
}

TEST(FileCryptoOps, FailedOverwriteWarnsButTheContainerStands)
{
    Fixture f;
    f.options.Passes = 2;
    TempDir dir;
    WriteFile(dir / "a.jpg", std::string(3000, 'a'));
    f.dialogs.passwords.push_back("pw");
    std::string result;
    {
        test::FileSizeLimit limit(200000);  // enough for the container, not for a 716800-byte pass
        result = f.crypto.EncryptFile(dir / "a.jpg");
    }
    EXPECT_EQ(result, dir / "$a.jpg");
    ASSERT_EQ(f.dialogs.messages.size(), 1u);
    EXPECT_EQ(f.dialogs.messages[0].caption, "Warning");
    EXPECT_EQ(f.dialogs.messages[0].text, "Secure overwrite failed.");
    EXPECT_EQ(f.dialogs.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(fs::exists(dir / "a.jpg")) << "a failed pass does not delete";
    std::vector<std::uint8_t> stream;
    EXPECT_TRUE(f.crypto.DecryptToStream(dir / "$a.jpg", stream));
    EXPECT_EQ(stream, std::vector<std::uint8_t>(3000, 'a'));
}

// What the viewer's decoding threads use: the options come with the call, the password is read
// under a lock, and its generation tells work done under another password apart.
TEST(FileCryptoOps, DecryptsOnWorkerThreadsWithoutTheHooks)
{
    Fixture f;
    TempDir dir;
    const std::vector<std::uint8_t> plain(20000, 0x5a);
    WriteFile(dir / "a.jpg", plain);
    const std::uint64_t start = f.crypto.PasswordGeneration();
    f.dialogs.passwords = {"   ", "pw"};
    EXPECT_FALSE(f.crypto.EnsurePassword(false));
    EXPECT_EQ(f.crypto.PasswordGeneration(), start) << "a blank answer sets nothing";
    ASSERT_EQ(f.crypto.EncryptFile(dir / "a.jpg"), dir / "$a.jpg");
    const std::uint64_t entered = f.crypto.PasswordGeneration();
    EXPECT_NE(entered, start);
    const int optionReads = f.optionReads;

    std::vector<std::vector<std::uint8_t>> streams(4);
    std::vector<std::thread> workers;
    for (auto& stream : streams)
        workers.emplace_back([&f, &dir, &stream] {
            EXPECT_TRUE(f.crypto.DecryptToStream(dir / "$a.jpg", f.options.FileNamePW, stream));
        });
    for (std::thread& worker : workers)
        worker.join();
    for (const auto& stream : streams)
        EXPECT_EQ(stream, plain);
    EXPECT_EQ(f.optionReads, optionReads) << "worker threads never call into the window's settings";

    f.crypto.ClearPassword();
    EXPECT_NE(f.crypto.PasswordGeneration(), entered);
    EXPECT_FALSE(f.crypto.HasPassword());
    std::vector<std::uint8_t> stream;
    EXPECT_FALSE(f.crypto.DecryptToStream(dir / "$a.jpg", f.options.FileNamePW, stream));
}

}  // namespace
}  // namespace quillix::container
