#include "container/container_file.h"
#include "container/container_format.h"
#include "container/file_crypto.h"
#include "container/file_ops.h"
#include "container/key_derivation.h"
#include "support/file_size_limit.h"
#include "support/hex.h"
#include "support/reference_blowfish.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <set>
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
    int forgotten = 0;
    FileCrypto crypto{dialogs, FileCrypto::Hooks{
                                   [this] {
                                       ++optionReads;
                                       return options;
                                   },
                                   [this] { ++passwordEntered; },
                                   nullptr,
                                   [this] { ++forgotten; },
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

// A typo must never lock a picture away: a password encrypts only after it opened a container
// or was typed twice alike, and the repetition is asked once per password.
TEST(PasswordPrompt, EncryptionWaitsForAKnownGoodPassword)
{
    using P = PasswordPrompt;
    const char* const again = kRepeatPasswordNotice;
    const char* const differ = kPasswordsDifferNotice;
    enum class Before { Nothing, TypedOnce, OpenedContainer, FailedToOpen, DecryptedFile, ForgottenAfterOpening };
    struct Row {
        const char* what;
        Before before;
        std::vector<std::optional<std::string>> answers;  // first fields, the prompt before included
        std::vector<std::string> repeats;                 // second fields; none: the same text
        std::vector<P> prompts;
        std::vector<std::string> notices;
        const char* encryptedUnder;  // nullptr: a.jpg stays as it was
    };
    const Row rows[] = {
        {"typed twice alike", Before::Nothing, {"pw"}, {}, {P::EnterTwice}, {""}, "pw"},
        {"the two differ, then agree",
         Before::Nothing,
         {" pw", "pw"},
         {"pq", "pw "},
         {P::EnterTwice, P::EnterTwice},
         {"", differ},
         "pw"},
        {"the two differ, then cancelled",
         Before::Nothing,
         {"pw", std::nullopt},
         {"pq"},
         {P::EnterTwice, P::EnterTwice},
         {"", differ},
         nullptr},
        {"blank twice", Before::Nothing, {"  "}, {}, {P::EnterTwice}, {""}, nullptr},
        {"typed once, then repeated", Before::TypedOnce, {"pw", "pw"}, {}, {P::Enter, P::Repeat}, {"", again}, "pw"},
        {"typed once with a typo, so the repetition differs",
         Before::TypedOnce,
         {"pq", "pw", "pw"},
         {},
         {P::Enter, P::Repeat, P::EnterTwice},
         {"", again, differ},
         "pw"},
        {"typed once, repetition cancelled",
         Before::TypedOnce,
         {"pw", std::nullopt},
         {},
         {P::Enter, P::Repeat},
         {"", again},
         nullptr},
        {"opened a container", Before::OpenedContainer, {"right"}, {}, {P::Enter}, {""}, "right"},
        {"decrypted a container in place", Before::DecryptedFile, {"right"}, {}, {P::Enter}, {""}, "right"},
        {"failed to open a container",
         Before::FailedToOpen,
         {"wrong", "wrong"},
         {},
         {P::Enter, P::Repeat},
         {"", again},
         "wrong"},
        {"forgotten after opening",
         Before::ForgottenAfterOpening,
         {"right", "new"},
         {},
         {P::Enter, P::EnterTwice},
         {"", ""},
         "new"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Fixture f;
        f.options.FileNamePW = false;
        TempDir dir;
        const std::vector<std::uint8_t> plain(3000, 0x61);
        WriteFile(dir / "a.jpg", plain);
        WriteFile(dir / "b.jpg", plain);
        WriteFile(dir / "c.jpg", "c");
        ASSERT_TRUE(EncryptToContainer(dir / "c.jpg", "right", f.options));
        fs::remove(dir / "c.jpg");
        f.dialogs.passwords.assign(row.answers.begin(), row.answers.end());
        f.dialogs.repeats.assign(row.repeats.begin(), row.repeats.end());

        std::vector<std::uint8_t> stream;
        switch (row.before) {
        case Before::Nothing: break;
        case Before::TypedOnce: ASSERT_TRUE(f.crypto.EnsurePassword(false)); break;
        case Before::OpenedContainer:
        case Before::ForgottenAfterOpening:
        case Before::FailedToOpen:
            ASSERT_TRUE(f.crypto.EnsurePassword(false));
            EXPECT_EQ(f.crypto.DecryptToStream(dir / "$c.jpg", stream), row.before != Before::FailedToOpen);
            if (row.before == Before::ForgottenAfterOpening) f.crypto.ClearPassword();
            break;
        case Before::DecryptedFile: ASSERT_EQ(f.crypto.DecryptFile(dir / "$c.jpg"), dir / "c.jpg"); break;
        }

        const std::string made = f.crypto.EncryptFile(dir / "a.jpg");
        EXPECT_EQ(f.dialogs.passwordRequests, row.prompts);
        EXPECT_EQ(f.dialogs.passwordNotices, row.notices);
        if (!row.encryptedUnder) {
            EXPECT_EQ(made, "");
            EXPECT_EQ(ReadFile(dir / "a.jpg"), plain);
            EXPECT_FALSE(fs::exists(dir / "$a.jpg"));
            continue;
        }
        ASSERT_EQ(made, dir / "$a.jpg");
        EXPECT_TRUE(container::DecryptToStream(made, row.encryptedUnder, false, stream));
        EXPECT_EQ(stream, plain);
        EXPECT_TRUE(f.crypto.PasswordConfirmed());
        // Once known good, the password is not asked for again.
        EXPECT_EQ(f.crypto.EncryptFile(dir / "b.jpg"), dir / "$b.jpg");
        EXPECT_EQ(f.dialogs.passwordRequests.size(), row.prompts.size());
    }
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

// Forgetting takes the cached keys with the password: a container opened before does not open
// from the cache afterwards, and the window hears of it once.
TEST(FileCryptoOps, ForgettingDropsTheCachedKeys)
{
    Fixture f;
    f.options.Fast = true;
    TempDir dir;
    WriteFile(dir / "a.jpg", std::string(500, 'a'));
    ASSERT_TRUE(EncryptToContainer(dir / "a.jpg", "pw", f.options));
    f.dialogs.passwords = {"pw", "pw"};
    ASSERT_TRUE(f.crypto.EnsurePassword(false));
    std::vector<std::uint8_t> stream;
    const auto derivationsToOpen = [&] {
        const std::uint64_t before = KeyDerivationCount();
        EXPECT_TRUE(f.crypto.DecryptToStream(dir / "$a.jpg", stream));
        EXPECT_EQ(stream, std::vector<std::uint8_t>(500, 'a'));
        return KeyDerivationCount() - before;
    };
    derivationsToOpen();
    EXPECT_EQ(derivationsToOpen(), 0u) << "the key comes from the cache";

    f.crypto.ClearPassword();
    EXPECT_EQ(f.forgotten, 1);
    EXPECT_FALSE(f.crypto.DecryptToStream(dir / "$a.jpg", stream));
    EXPECT_TRUE(stream.empty());
    ASSERT_TRUE(f.crypto.EnsurePassword(false));
    EXPECT_EQ(derivationsToOpen(), 1u) << "the cached key went with the password";
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
    const CryptOutcome refused = f.crypto.Decrypt(dir / "$a.jpg");
    EXPECT_EQ(refused.path, "");
    EXPECT_EQ(refused.error.message, "wrong password or damaged file");
    EXPECT_TRUE(fs::exists(dir / "$a.jpg"));
    EXPECT_FALSE(fs::exists(dir / "a.jpg"));
}

// In the fast mode one password gives one file name always the same salt, so a weak Blowfish
// key there made that file impossible to encrypt with Blowfish. This password derives a key
// libgcrypt refuses as weak for photo.jpg (found once by trying "weak-0", "weak-1", ... until libgcrypt refused the
// key).
TEST(FileCryptoOps, BlowfishUnderAWeakKeyWritesTheStandardContainer)
{
    const char* const password = "weak-104143";
    Fixture f;
    f.options.EncryptionAlg = 1;
    f.options.Fast = true;
    f.options.FileNamePW = false;
    f.options.MaxKiB = 0;
    TempDir dir;
    const std::vector<std::uint8_t> plain = test::PseudoRandomBytes(20000);
    WriteFile(dir / "photo.jpg", plain);
    f.dialogs.passwords.push_back(password);
    ASSERT_EQ(f.crypto.EncryptFile(dir / "photo.jpg"), dir / "$photo.jpg");

    // The container, recomputed apart from the program: the key from libgcrypt's PBKDF2, the
    // keystream from the reference Blowfish, restarted at every 8192-byte chunk.
    const std::vector<std::uint8_t> sealed = ReadFile(dir / "$photo.jpg");
    ASSERT_EQ(sealed.size(), kHeaderSize + plain.size() + kMarkerSize);
    const ContainerHeader header = ParseContainerHeader(std::span(sealed).first<kHeaderSize>());
    EXPECT_EQ(test::ToHex(header.salt), "5b3ed6ac377f9ba83c787285a7386ab8");
    std::array<std::uint8_t, 48> derived{};
    ASSERT_EQ(gcry_kdf_derive(password, std::strlen(password), GCRY_KDF_PBKDF2, GCRY_MD_SHA256, header.salt.data(),
                              header.salt.size(), header.iters, derived.size(), derived.data()),
              0u);
    const std::span<const std::uint8_t> key = std::span(derived).first(16);
    EXPECT_EQ(test::ToHex(key), "c036c00b1aa5ce5ab72ab3df0de8067a");
    const test::ReferenceBlowfish reference(key);
    ASSERT_TRUE(reference.HasRepeatedSboxEntry());
    std::vector<std::uint8_t> body(sealed.begin() + kHeaderSize, sealed.end() - kMarkerSize);
    for (std::size_t at = 0; at < body.size(); at += 8192)
        reference.XorCounterStream(std::span(body).subspan(at, std::min<std::size_t>(8192, body.size() - at)),
                                   std::span(header.nonce).first(8));
    EXPECT_EQ(body, plain);
    EXPECT_EQ(std::string(sealed.end() - kMarkerSize, sealed.end()), "$$$B$$$");

    EXPECT_EQ(f.crypto.DecryptFile(dir / "$photo.jpg"), dir / "photo.jpg");
    EXPECT_EQ(ReadFile(dir / "photo.jpg"), plain);
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

// What the user is told about the source after a successful operation.
TEST(FileCryptoOps, WarningsAboutTheSource)
{
    {
        Fixture f;
        f.options.Passes = 2;
        TempDir dir;
        WriteFile(dir / "a.jpg", std::string(3000, 'a'));
        f.dialogs.passwords.push_back("pw");
        std::string result;
        {
            test::FileSizeLimit limit(200000);  // room for the container, not for a 716800-byte pass
            result = f.crypto.EncryptFile(dir / "a.jpg");
        }
        EXPECT_EQ(result, dir / "$a.jpg");
        EXPECT_TRUE(f.dialogs.messages.empty()) << "every byte of the file was covered: no failure";
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$a.jpg"});
    }
    {
        Fixture f;
        TempDir dir;
        fs::create_directory(dir / "b");
        WriteFile(dir / "a.jpg", std::string(3000, 'a'));
        fs::create_hard_link(dir / "a.jpg", dir / "b/backup.jpg");
        f.dialogs.passwords.push_back("pw");
        EXPECT_EQ(f.crypto.EncryptFile(dir / "a.jpg"), dir / "$a.jpg");
        ASSERT_EQ(f.dialogs.messages.size(), 1u);
        EXPECT_EQ(f.dialogs.messages[0].caption, "Warning");
        EXPECT_EQ(f.dialogs.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(f.dialogs.messages[0].text, "a.jpg has other hard links, which still hold the plain picture: only "
                                              "this name was removed, nothing was overwritten.");
        EXPECT_EQ(ReadFile(dir / "b/backup.jpg"), std::vector<std::uint8_t>(3000, 'a'));
    }
    if (test::PermissionsAreEnforced()) {
        Fixture f;
        TempDir dir;
        WriteFile(dir / "a.jpg", std::string(3000, 'a'));
        fs::permissions(dir / "a.jpg", fs::perms::owner_read);
        f.dialogs.passwords.push_back("pw");
        EXPECT_EQ(f.crypto.EncryptFile(dir / "a.jpg"), dir / "$a.jpg");
        ASSERT_EQ(f.dialogs.messages.size(), 1u);
        EXPECT_EQ(f.dialogs.messages[0].caption, "Warning");
        EXPECT_EQ(f.dialogs.messages[0].text,
                  "Secure overwrite failed.\n\na.jpg was not overwritten and is still there (Permission denied).");
        std::vector<std::uint8_t> stream;
        EXPECT_TRUE(f.crypto.DecryptToStream(dir / "$a.jpg", stream));
        EXPECT_EQ(stream, std::vector<std::uint8_t>(3000, 'a'));
    }
}

// The same refusals reach every front end through the outcome.
TEST(FileCryptoOps, ExistingResultIsAFailureOrAFinishedRun)
{
    Fixture f;
    TempDir dir;
    WriteFile(dir / "a.jpg", "picture");
    WriteFile(dir / "$a.jpg", "someone else's container");
    f.dialogs.passwords.push_back("pw");
    const CryptOutcome refused = f.crypto.Encrypt(dir / "a.jpg");
    EXPECT_EQ(refused.path, "");
    EXPECT_EQ(refused.error.kind, ErrorKind::Exists);
    EXPECT_EQ(refused.error.message,
              dir / "$a.jpg already exists and holds something else; it was left as it is, and so was a.jpg");
    EXPECT_TRUE(f.dialogs.messages.empty());

    fs::remove(dir / "$a.jpg");
    ASSERT_EQ(EncryptToContainer(dir / "a.jpg", "pw", f.options).value(), dir / "$a.jpg");
    const CryptOutcome finished = f.crypto.Encrypt(dir / "a.jpg");
    EXPECT_EQ(finished.path, dir / "$a.jpg") << "an interrupted run is finished";
    EXPECT_TRUE(finished.result.finishedEarlierRun);
    EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$a.jpg"});
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
