#include "container/container_file.h"
#include "container/container_rename.h"
#include "container/file_crypto.h"
#include "container/file_ops.h"
#include "support/containers.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace quillix::container {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Names = std::set<std::string>;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kPassword = "hunter2";

// A container made in `folder` from `bytes` under `plainName`, dated kOldTime, mode 0640.
std::string MakeContainer(const std::string& folder, const std::string& plainName, const Bytes& bytes, bool withName,
                          int alg = 1, std::int64_t maxKiB = 0, bool fast = true)
{
    const std::string plain = folder + "/" + plainName;
    WriteFile(plain, bytes);
    FileOptions options;
    options.EncryptionAlg = alg;
    options.FileNamePW = withName;
    options.MaxKiB = maxKiB;
    options.Fast = fast;
    const Result<std::string> sealed = EncryptToContainer(plain, kPassword, options);
    EXPECT_TRUE(sealed.ok()) << (sealed.ok() ? "" : sealed.error().message);
    fs::remove(plain);
    const std::string path = sealed.value();
    ::chmod(path.c_str(), 0640);
    test::SetOldTime(path);
    return path;
}

struct stat StatOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

Bytes Opened(const std::string& path, bool withName)
{
    return test::OpenedBytes(path, kPassword, withName);
}

NameChangeKey KeyOf(const std::string& password, bool fileNamePW = true, int* opened = nullptr)
{
    return NameChangeKey{password, fileNamePW, [opened] {
                             if (opened) ++*opened;
                         }};
}

TEST(ContainerRename, EveryWayAndBothKeyFormsKeepTheContainerReadable)
{
    struct Row {
        const char* what;
        bool withName;    // how the container was made
        bool fileNamePW;  // the setting now: which key is tried first
        bool otherFolder;
        NameChangeMode mode;
        int alg;
        std::int64_t maxKiB;
        bool fast;
    };
    const Row rows[] = {
        {"rename, name in key", true, true, false, NameChangeMode::Move, 1, 0, true},
        {"rename, name in key, setting off since", true, false, false, NameChangeMode::Move, 0, 0, true},
        {"rename, name not in key", false, false, false, NameChangeMode::Move, 2, 0, true},
        {"rename, name not in key, setting on since", false, true, false, NameChangeMode::Move, 3, 0, true},
        {"move elsewhere, name in key, part encrypted", true, true, true, NameChangeMode::Move, 3, 8, true},
        {"move elsewhere, name not in key", false, false, true, NameChangeMode::Move, 1, 0, true},
        {"copy elsewhere, name in key, slow mode", true, true, true, NameChangeMode::Copy, 2, 0, false},
        {"copy elsewhere, name not in key", false, true, true, NameChangeMode::Copy, 0, 8, true},
        {"copy here, name in key", true, true, false, NameChangeMode::Copy, 1, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir, elsewhere;
        const Bytes picture = test::PseudoRandomBytes(30000);
        const std::string from =
            MakeContainer(dir.path(), "a.jpg", picture, row.withName, row.alg, row.maxKiB, row.fast);
        const Bytes before = ReadFile(from);
        const ContainerHeader oldHeader = ParseContainerHeader(std::span(before).first<kHeaderSize>());
        const std::string to = (row.otherFolder ? elsewhere : dir) / "$b.jpg";

        int opened = 0;
        const Result<NameChange> given =
            GiveContainerName(from, to, KeyOf(kPassword, row.fileNamePW, &opened), row.mode);
        ASSERT_TRUE(given.ok()) << given.error().message;
        EXPECT_EQ(given.value().reencrypted, row.withName);
        EXPECT_TRUE(given.value().warning.empty());
        EXPECT_EQ(opened, 1);

        EXPECT_EQ(Opened(to, row.withName), picture) << "opens under its new name";
        if (!row.withName) {
            EXPECT_EQ(ReadFile(to), before) << "the bytes stay as they are";
        }
        const Bytes after = ReadFile(to);
        const ContainerHeader header = ParseContainerHeader(std::span(after).first<kHeaderSize>());
        EXPECT_EQ(header.alg, oldHeader.alg);
        EXPECT_EQ(header.iters, oldHeader.iters);
        EXPECT_EQ(header.encBytes, oldHeader.encBytes);
        EXPECT_EQ(ReadTrailerMarker(to), row.alg);
        EXPECT_TRUE(test::HasOldTime(to));
        EXPECT_EQ(StatOf(to).st_mode & 0777, 0640u);

        const bool kept = row.mode == NameChangeMode::Copy;
        EXPECT_EQ(fs::exists(from), kept);
        if (kept) {
            EXPECT_EQ(ReadFile(from), before);
        }
        Names here = kept ? Names{"$a.jpg"} : Names{};
        if (!row.otherFolder) here.insert("$b.jpg");
        EXPECT_EQ(test::FileNames(dir), here) << "no temporary file left";
        if (row.otherFolder) {
            EXPECT_EQ(test::FileNames(elsewhere), Names{"$b.jpg"});
        }
    }
}

TEST(ContainerRename, WithoutTheRightPasswordNothingChanges)
{
    TempDir dir, elsewhere;
    const Bytes picture = test::PseudoRandomBytes(20000);
    const std::string from = MakeContainer(dir.path(), "a.jpg", picture, true);
    // A container a damaged body keeps from opening under any key.
    const std::string damaged = MakeContainer(dir.path(), "d.jpg", picture, true);
    Bytes bad = ReadFile(damaged);
    bad[kHeaderSize + 100] ^= 1;
    WriteFile(damaged, bad);
    const Bytes before = ReadFile(from);

    struct Row {
        const char* what;
        std::string path;
        std::string password;
    };
    const Row rows[] = {
        {"no password", from, ""},
        {"wrong password", from, "hunter3"},
        {"damaged", damaged, kPassword},
    };
    for (const Row& row : rows) {
        for (const NameChangeMode mode : {NameChangeMode::Move, NameChangeMode::Copy}) {
            SCOPED_TRACE(row.what);
            int opened = 0;
            const Result<NameChange> given =
                GiveContainerName(row.path, elsewhere / "$b.jpg", KeyOf(row.password, true, &opened), mode);
            ASSERT_FALSE(given.ok());
            EXPECT_EQ(given.error().kind, ErrorKind::WrongPassword);
            EXPECT_TRUE(IsRefusedNameChange(given.error()));
            EXPECT_NE(given.error().message.find("type the password first (Ctrl+Shift+P)"), std::string::npos)
                << given.error().message;
            EXPECT_EQ(opened, 0);
        }
    }
    EXPECT_EQ(ReadFile(from), before);
    EXPECT_EQ(test::FileNames(dir), (Names{"$a.jpg", "$d.jpg"}));
    EXPECT_EQ(test::FileNames(elsewhere), Names{});

    // The plain name stays: the key does too, and no password is needed.
    const Result<NameChange> sameName = GiveContainerName(from, elsewhere / "$a.jpg", KeyOf(""), NameChangeMode::Copy);
    ASSERT_TRUE(sameName.ok()) << sameName.error().message;
    EXPECT_FALSE(sameName.value().reencrypted);
    EXPECT_EQ(ReadFile(elsewhere / "$a.jpg"), before);
    EXPECT_TRUE(test::HasOldTime(elsewhere / "$a.jpg"));
}

TEST(ContainerRename, TakenNamesBadHeadersLinksAndLongNamesAreRefused)
{
    TempDir dir;
    const Bytes picture = test::PseudoRandomBytes(5000);
    const std::string from = MakeContainer(dir.path(), "a.jpg", picture, true);
    const Bytes before = ReadFile(from);
    WriteFile(dir / "$b.jpg", std::string("someone's file"));
    WriteFile(dir / "$short.jpg", std::string("QLX1 and little else"));
    fs::create_symlink(from, dir / "$link.jpg");
    const NameChangeKey key = KeyOf(kPassword);

    for (const NameChangeMode mode : {NameChangeMode::Move, NameChangeMode::Copy}) {
        const Result<NameChange> taken = GiveContainerName(from, dir / "$b.jpg", key, mode);
        ASSERT_FALSE(taken.ok());
        EXPECT_EQ(taken.error().kind, ErrorKind::Exists);
        EXPECT_FALSE(IsRefusedNameChange(taken.error()));
    }
    EXPECT_EQ(test::ReadText(dir / "$b.jpg"), "someone's file");

    const Result<NameChange> header = GiveContainerName(dir / "$short.jpg", dir / "$c.jpg", key, NameChangeMode::Move);
    ASSERT_FALSE(header.ok());
    EXPECT_TRUE(IsRefusedNameChange(header.error())) << header.error().message;

    const Result<NameChange> link = GiveContainerName(dir / "$link.jpg", dir / "$c.jpg", key, NameChangeMode::Move);
    ASSERT_FALSE(link.ok());
    EXPECT_EQ(link.error().kind, ErrorKind::Unsupported);

    // Only the first 200 bytes of "name|password" make the key.
    const std::string longName = "$" + std::string(201 - std::string("|hunter2").size(), 'x');
    const Result<NameChange> tooLong = GiveContainerName(from, dir / longName, key, NameChangeMode::Move);
    ASSERT_FALSE(tooLong.ok());
    EXPECT_EQ(tooLong.error().kind, ErrorKind::Unsupported);
    const std::string fits = longName.substr(0, longName.size() - 1);
    ASSERT_TRUE(GiveContainerName(from, dir / fits, key, NameChangeMode::Copy).ok());
    EXPECT_EQ(Opened(dir / fits, true), picture);

    EXPECT_EQ(ReadFile(from), before);
    EXPECT_EQ(test::FileNames(dir), (Names{"$a.jpg", "$b.jpg", "$short.jpg", "$link.jpg", fits}));
}

// A strong container's key holds no name: every way of renaming keeps its bytes, needs no
// password, and it opens under the new name.
TEST(ContainerRename, AStrongContainerKeepsItsBytesUnderAnyName)
{
    for (const auto& [mode, otherFolder] :
         {std::pair{NameChangeMode::Move, false}, std::pair{NameChangeMode::Move, true},
          std::pair{NameChangeMode::Copy, true}}) {
        SCOPED_TRACE(testing::Message() << (mode == NameChangeMode::Move ? "move" : "copy") << otherFolder);
        TempDir dir, elsewhere;
        const Bytes picture = test::PseudoRandomBytes(70000);
        const std::string from = MakeContainer(dir.path(), "a.jpg", picture, true, 4);
        const Bytes before = ReadFile(from);
        const std::string to = (otherFolder ? elsewhere : dir) / "$b.jpg";
        int opened = 0;
        const Result<NameChange> given = GiveContainerName(from, to, KeyOf("", true, &opened), mode);
        ASSERT_TRUE(given.ok()) << given.error().message;
        EXPECT_FALSE(given.value().reencrypted);
        EXPECT_EQ(ReadFile(to), before);
        EXPECT_EQ(Opened(to, true), picture);
        EXPECT_TRUE(test::HasOldTime(to));
        EXPECT_EQ(fs::exists(from), mode == NameChangeMode::Copy);
    }
}

TEST(ContainerRename, NamesAndWhatCountsAsAContainer)
{
    EXPECT_EQ(PlainNameOf("/f/$a.jpg"), "a.jpg");
    EXPECT_EQ(PlainNameOf("/f/a.jpg"), "a.jpg");
    EXPECT_EQ(PlainNameOf("$$a.jpg"), "$a.jpg");
    EXPECT_EQ(KeepContainerMark("$a.jpg", "b.jpg"), "$b.jpg");
    EXPECT_EQ(KeepContainerMark("$a.jpg", "$b.jpg"), "$b.jpg");
    EXPECT_EQ(KeepContainerMark("a.jpg", "b.jpg"), "b.jpg");
    EXPECT_EQ(KeepContainerMark("a.jpg", "$b.jpg"), "$b.jpg");

    TempDir dir;
    const std::string container = MakeContainer(dir.path(), "a.jpg", test::PseudoRandomBytes(100), true);
    WriteFile(dir / "$plain.jpg", test::PseudoRandomBytes(100));
    WriteFile(dir / "plain.jpg", std::string("QLX1 but no $ name and no marker"));
    EXPECT_TRUE(IsContainerFile(container));
    EXPECT_FALSE(IsContainerFile(dir / "$plain.jpg"));
    EXPECT_FALSE(IsContainerFile(dir / "plain.jpg"));
    EXPECT_FALSE(IsContainerFile(dir / "$gone.jpg"));
}

TEST(ContainerRename, TheKeyOfTheRunConfirmsThePasswordThatOpened)
{
    test::ScriptedDialogs dialogs;
    FileCrypto crypto(dialogs, {});
    dialogs.passwords = {std::string(kPassword)};
    ASSERT_TRUE(crypto.EnsurePassword(false));
    ASSERT_FALSE(crypto.PasswordConfirmed());
    TempDir dir;
    const std::string from = MakeContainer(dir.path(), "a.jpg", test::PseudoRandomBytes(100), true);
    {
        const NameChangeKey key = NameChangeKeyOf(crypto);
        EXPECT_EQ(key.password, kPassword);
        ASSERT_TRUE(GiveContainerName(from, dir / "$b.jpg", key, NameChangeMode::Move).ok());
    }
    EXPECT_TRUE(crypto.PasswordConfirmed());
}

}  // namespace
}  // namespace quillix::container
