#include "container/container_file.h"
#include "container/file_ops.h"
#include "container/strong_format.h"
#include "crypto/ciphers.h"
#include "support/file_size_limit.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace quillix::container {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// The new path, the argument when there was nothing to do, or empty on failure.
std::string PathOrEmpty(const Result<std::string>& result)
{
    return result.ok() ? result.value() : std::string();
}

FileOptions Options(int alg, bool fast = true, bool fileNamePW = true, std::int64_t maxKiB = 0)
{
    FileOptions o;
    o.EncryptionAlg = alg;
    o.Fast = fast;
    o.FileNamePW = fileNamePW;
    o.MaxKiB = maxKiB;
    return o;
}

ContainerHeader HeaderOf(const std::string& path)
{
    const Bytes b = ReadFile(path);
    return ParseContainerHeader(std::span(b).first<kHeaderSize>());
}

// The guarantees of the in-place operations, for both container formats.
enum class Format { Compatible, Strong };

class FileOpsGuarantees : public testing::TestWithParam<Format> {
protected:
    bool Strong() const { return GetParam() == Format::Strong; }
    // The strong container, or else the compatible cipher `alg`.
    int Alg(int alg) const { return Strong() ? crypto::CipherStrong : alg; }
};

INSTANTIATE_TEST_SUITE_P(Formats, FileOpsGuarantees, testing::Values(Format::Compatible, Format::Strong),
                         [](const testing::TestParamInfo<Format>& format) {
                             return format.param == Format::Strong ? "Strong" : "Compatible";
                         });

TEST(FileOps, RoundTripEveryCipherModeAndRegion)
{
    struct Row {
        int alg;
        bool fast;
        bool fileNamePW;
        std::int64_t maxKiB;
        std::size_t size;
        std::uint32_t encBytes;
    };
    const Row rows[] = {
        {0, true, true, 0, 70000, 0},
        {1, true, false, 0, 8193, 0},
        {2, true, true, 1024, 1'500'000, 1'048'576},  // --max-mib 1 on a file over 1 MiB
        {3, true, false, 444 * 1024, 20000, 20000},
        {0, false, true, 1024, 3'000'000, 1'048'576},
        {2, false, false, 0, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "alg " << row.alg << " fast " << row.fast << " size " << row.size);
        TempDir dir;
        const std::string plainPath = dir / "photo.jpg";
        const Bytes plain = test::PseudoRandomBytes(row.size);
        WriteFile(plainPath, plain);

        const auto sealed = EncryptToContainer(plainPath, "pw", Options(row.alg, row.fast, row.fileNamePW, row.maxKiB));
        ASSERT_TRUE(sealed.ok()) << sealed.error().message;
        EXPECT_EQ(sealed.value(), dir / "$photo.jpg");
        EXPECT_EQ(ReadFile(plainPath), plain) << "the plain file is not this function's to touch";
        EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"photo.jpg", "$photo.jpg"})) << "no temporary left";
        EXPECT_EQ(ReadTrailerMarker(sealed.value()), row.alg);
        EXPECT_EQ(HeaderOf(sealed.value()).encBytes, row.encBytes);
        EXPECT_EQ(HeaderOf(sealed.value()).iters, row.fast ? 20000u : 200000u);

        EXPECT_TRUE(VerifyContainerFile(sealed.value(), "pw", row.fileNamePW).ok());
        Bytes stream = {1, 2, 3};
        EXPECT_TRUE(DecryptToStream(sealed.value(), "pw", row.fileNamePW, stream));
        EXPECT_EQ(stream, plain);

        fs::remove(plainPath);
        const auto opened = DecryptToPlainFile(sealed.value(), "pw", row.fileNamePW);
        ASSERT_TRUE(opened.ok()) << opened.error().message;
        EXPECT_EQ(opened.value(), plainPath);
        EXPECT_EQ(ReadFile(plainPath), plain);
        EXPECT_TRUE(fs::exists(sealed.value())) << "the container is not this function's to delete";
    }
}

// Another file of the result's name is a picture the user has: it is never replaced. Only a
// result that an interrupted run left complete (the same bytes under this password) stands.
TEST_P(FileOpsGuarantees, ExistingFilesAreNeverReplaced)
{
    TempDir dir;
    const std::string plainPath = dir / "photo.jpg", containerPath = dir / "$photo.jpg";
    const Bytes picture = test::PseudoRandomBytes(5000);
    WriteFile(plainPath, picture);
    WriteFile(containerPath, "an older container");
    auto refused = EncryptToContainer(plainPath, "pw", Options(Alg(2)));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, ErrorKind::Exists);
    EXPECT_NE(refused.error().message.find(containerPath + " already exists"), std::string::npos);
    EXPECT_EQ(ReadFile(containerPath), test::Bytes("an older container"));
    EXPECT_EQ(ReadFile(plainPath), picture);

    fs::remove(containerPath);
    ASSERT_TRUE(EncryptToContainer(plainPath, "pw", Options(Alg(2))).ok());
    const Bytes container = ReadFile(containerPath);
    EXPECT_EQ(EncryptToContainer(plainPath, "pw", Options(Alg(2))).value(), containerPath)
        << "the container of these very bytes stands for a new one";
    EXPECT_EQ(ReadFile(containerPath), container);
    EXPECT_EQ(EncryptToContainer(plainPath, "other", Options(Alg(2))).error().kind, ErrorKind::Exists)
        << "under another password it is someone else's";
    WriteFile(plainPath, test::PseudoRandomBytes(5000, 9));
    EXPECT_EQ(EncryptToContainer(plainPath, "pw", Options(Alg(2))).error().kind, ErrorKind::Exists) << "other bytes";
    EXPECT_EQ(ReadFile(containerPath), container);

    WriteFile(plainPath, "an older plain file");
    EXPECT_EQ(DecryptToPlainFile(containerPath, "pw", true).error().kind, ErrorKind::Exists);
    EXPECT_EQ(DecryptToPlainFile(containerPath, "wrong", true).error().kind, ErrorKind::WrongPassword);
    EXPECT_EQ(ReadFile(plainPath), test::Bytes("an older plain file"));
    WriteFile(plainPath, picture);
    EXPECT_EQ(DecryptToPlainFile(containerPath, "pw", true).value(), plainPath);
    EXPECT_EQ(ReadFile(containerPath), container);
    EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"photo.jpg", "$photo.jpg"}));
}

TEST_P(FileOpsGuarantees, UserTempFilesAreNeverTouched)
{
    TempDir dir;
    const std::string plainPath = dir / "photo.jpg";
    WriteFile(plainPath, test::PseudoRandomBytes(3000));
    WriteFile(dir / "$photo.jpg.tmp", "mine");
    WriteFile(dir / "photo.jpg.tmp", "mine too");
    ASSERT_TRUE(EncryptToContainer(plainPath, "pw", Options(Alg(0))).ok());
    fs::remove(plainPath);
    ASSERT_TRUE(DecryptToPlainFile(dir / "$photo.jpg", "pw", true).ok());
    EXPECT_EQ(ReadFile(dir / "$photo.jpg.tmp"), test::Bytes("mine"));
    EXPECT_EQ(ReadFile(dir / "photo.jpg.tmp"), test::Bytes("mine too"));
    EXPECT_EQ(test::FileNames(dir).size(), 4u);
}

TEST_P(FileOpsGuarantees, WrongPasswordWritesNothing)
{
    TempDir dir;
    const std::string plainPath = dir / "photo.jpg", containerPath = dir / "$photo.jpg";
    WriteFile(plainPath, test::PseudoRandomBytes(40000));
    ASSERT_TRUE(EncryptToContainer(plainPath, "right", Options(Alg(3))).ok());
    fs::remove(plainPath);
    const Bytes before = ReadFile(containerPath);

    const auto result = DecryptToPlainFile(containerPath, "wrong", true);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, ErrorKind::WrongPassword);
    EXPECT_EQ(PathOrEmpty(DecryptToPlainFile(containerPath, "wrong", true)), "");
    EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$photo.jpg"}) << "no plain file and no temporary";
    EXPECT_EQ(ReadFile(containerPath), before);

    Bytes stream = {9};
    EXPECT_FALSE(DecryptToStream(containerPath, "wrong", true, stream));
    EXPECT_TRUE(stream.empty());
    // A strong key holds neither the name nor the setting.
    EXPECT_EQ(DecryptToStream(containerPath, "right", false, stream), Strong()) << "other FileNamePW setting";

    fs::rename(containerPath, dir / "$other.jpg");
    EXPECT_EQ(VerifyContainerFile(dir / "$other.jpg", "right", true).ok(), Strong()) << "a renamed container";
}

TEST_P(FileOpsGuarantees, TamperedContainersFailAndStayUntouched)
{
    TempDir dir;
    const std::string plainPath = dir / "p.png";
    WriteFile(plainPath, test::PseudoRandomBytes(20000));
    ASSERT_TRUE(EncryptToContainer(plainPath, "pw", Options(Alg(1))).ok());
    fs::remove(plainPath);
    const Bytes good = ReadFile(dir / "$p.png");
    // Every field of the header, the first and the last body byte.
    const std::vector<std::size_t> offsets =
        Strong() ? std::vector<std::size_t>{5, 6, 8, 12, 20, 40, 57, 61, kStrongHeaderSize, good.size() - 1}
                 : std::vector<std::size_t>{5, 20, 30, 47, 50, 79, kHeaderSize, kHeaderSize + 19999};
    for (const std::size_t at : offsets) {
        Bytes bad = good;
        bad[at] ^= 0x20;
        WriteFile(dir / "$p.png", bad);
        EXPECT_FALSE(VerifyContainerFile(dir / "$p.png", "pw", true).ok()) << "byte " << at;
        EXPECT_FALSE(DecryptToPlainFile(dir / "$p.png", "pw", true).ok()) << "byte " << at;
        EXPECT_EQ(ReadFile(dir / "$p.png"), bad);
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$p.png"});
    }
}

TEST(FileOps, NothingToDoAndRefusals)
{
    TempDir dir;
    WriteFile(dir / "marked.jpg", "looks plain$$$C$$$");
    WriteFile(dir / "plain.jpg", test::PseudoRandomBytes(100));
    WriteFile(dir / "$already.jpg", test::PseudoRandomBytes(100));
    WriteFile(dir / "empty.jpg", "");
    fs::create_directory(dir / "folder.jpg");
    fs::create_directory(dir / "$folder.jpg");
    ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "$pipe.jpg").c_str(), 0600), 0);
    fs::create_symlink(dir / "plain.jpg", dir / "link.jpg");

    EXPECT_EQ(PathOrEmpty(EncryptToContainer(dir / "$already.jpg", "pw", Options(0))), dir / "$already.jpg");
    EXPECT_EQ(PathOrEmpty(EncryptToContainer(dir / "marked.jpg", "pw", Options(0))), dir / "marked.jpg");
    EXPECT_EQ(PathOrEmpty(DecryptToPlainFile(dir / "plain.jpg", "pw", true)), dir / "plain.jpg");
    EXPECT_EQ(PathOrEmpty(DecryptToPlainFile(dir / "marked.jpg", "pw", true)), dir / "marked.jpg");
    EXPECT_EQ(PathOrEmpty(EncryptToContainer(dir.path() + "/", "pw", Options(0))), "");
    EXPECT_EQ(PathOrEmpty(EncryptToContainer(dir / "plain.jpg", "pw", Options(5))), "") << "unknown cipher";
    EXPECT_EQ(PathOrEmpty(EncryptToContainer(dir / "empty.jpg", "pw", Options(0))), "")
        << "an empty file would make a container nothing can open";
    // Missing files, folders, pipes and links are failures in both directions, and a pipe is
    // never waited on.
    for (const char* name :
         {"missing.jpg", "$missing.jpg", "folder.jpg", "$folder.jpg", "pipe.jpg", "$pipe.jpg", "link.jpg"}) {
        EXPECT_EQ(PathOrEmpty(EncryptToContainer(dir / name, "pw", Options(0))), "") << name;
        EXPECT_EQ(PathOrEmpty(DecryptToPlainFile(dir / name, "pw", true)), "") << name;
    }
    EXPECT_EQ(DecryptToPlainFile(dir / "$folder.jpg", "pw", true).error().message, dir / "$folder.jpg is a folder");
    EXPECT_EQ(test::FileNames(dir),
              (std::set<std::string>{"marked.jpg", "plain.jpg", "$already.jpg", "empty.jpg", "folder.jpg",
                                     "$folder.jpg", "pipe.jpg", "$pipe.jpg", "link.jpg"}));
}

TEST(FileOps, ContainerWithoutDollarCanStillBeShown)
{
    TempDir dir;
    WriteFile(dir / "a.webp", test::PseudoRandomBytes(900));
    ASSERT_TRUE(EncryptToContainer(dir / "a.webp", "pw", Options(2, true, false)).ok());
    fs::rename(dir / "$a.webp", dir / "b.webp");
    Bytes stream;
    EXPECT_TRUE(DecryptToStream(dir / "b.webp", "pw", false, stream));
    EXPECT_EQ(stream, test::PseudoRandomBytes(900));
}

timespec ModifiedOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mtim;
}

void SetModified(const std::string& path, timespec when)
{
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

bool Same(timespec a, timespec b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The picture's date goes into its container and back, so "newest first" keeps its order.
TEST_P(FileOpsGuarantees, ResultsKeepTheDateOfWhatTheyWereMadeFrom)
{
    TempDir dir;
    const std::string plainPath = dir / "photo.jpg", containerPath = dir / "$photo.jpg";
    const timespec taken{1'000'000'000, 123'456'789};
    WriteFile(plainPath, test::PseudoRandomBytes(20000));
    SetModified(plainPath, taken);
    FileOptions options = Options(Alg(2));
    options.Passes = 1;

    ASSERT_TRUE(EncryptInPlace(plainPath, "pw", options).ok());
    EXPECT_TRUE(Same(ModifiedOf(containerPath), taken));
    ASSERT_TRUE(DecryptInPlace(containerPath, "pw", options).ok());
    EXPECT_TRUE(Same(ModifiedOf(plainPath), taken)) << "the round trip leaves the date as it was";

    ASSERT_TRUE(EncryptToContainer(plainPath, "pw", options).ok());
    const timespec sealed{1'200'000'000, 5};
    SetModified(containerPath, sealed);
    fs::remove(plainPath);
    ASSERT_TRUE(DecryptToPlainFile(containerPath, "pw", true).ok());
    EXPECT_TRUE(Same(ModifiedOf(plainPath), sealed)) << "the plain file gets the container's date";
}

// A write that fails half way leaves no partial result and no temporary file.
TEST_P(FileOpsGuarantees, FailedWritesLeaveNothingBehind)
{
    TempDir dir;
    const std::string plainPath = dir / "big.bmp", containerPath = dir / "$big.bmp";
    WriteFile(plainPath, test::PseudoRandomBytes(300000, 1));
    {
        test::FileSizeLimit limit(100000);
        const auto result = EncryptToContainer(plainPath, "pw", Options(Alg(0)));
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().kind, ErrorKind::Io);
    }
    EXPECT_EQ(ReadFile(plainPath), test::PseudoRandomBytes(300000, 1));
    EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"big.bmp"}));

    ASSERT_TRUE(EncryptToContainer(plainPath, "pw", Options(Alg(0))).ok());
    const Bytes container = ReadFile(containerPath);
    fs::remove(plainPath);
    {
        test::FileSizeLimit limit(100000);
        EXPECT_FALSE(DecryptToPlainFile(containerPath, "pw", true).ok());
    }
    EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"$big.bmp"}));

    if (test::PermissionsAreEnforced()) {
        fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(DecryptToPlainFile(containerPath, "pw", true).ok());
        fs::permissions(dir.path(), fs::perms::owner_all);
        EXPECT_EQ(ReadFile(containerPath), container);
    }
}

}  // namespace
}  // namespace quillix::container
