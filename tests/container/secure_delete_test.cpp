#include "container/secure_delete.h"
#include "container/work_files.h"
#include "support/file_size_limit.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

namespace quillix::container {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// An open descriptor keeps the file's bytes readable after its name is gone, so what the passes
// left behind can be inspected (a second hard link would spare the file its passes).
struct Watched {
    std::string path;
    UniqueFd fd;

    std::vector<std::uint8_t> Left() const
    {
        struct stat st {};
        ::fstat(fd.get(), &st);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
        bytes.resize(static_cast<std::size_t>(std::max(0LL, ReadAt(fd.get(), bytes, 0))));
        return bytes;
    }
};

Watched MakeWatched(const TempDir& dir, std::size_t size, const char* name = "victim.jpg")
{
    Watched w{dir / name, {}};
    WriteFile(w.path, std::vector<std::uint8_t>(size, 0xAB));
    w.fd = OpenFile(w.path, O_RDONLY);
    return w;
}

long CountOld(const std::vector<std::uint8_t>& bytes, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    to = std::min(to, bytes.size());
    return static_cast<long>(
        std::count(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to), std::uint8_t{0xAB}));
}

std::vector<std::string> WorkFilesIn(const TempDir& dir)
{
    std::vector<std::string> found;
    for (const std::string& name : test::FileNames(dir))
        if (IsWorkFileName(name)) found.push_back(name);
    return found;
}

TEST(SecureDelete, OverwritesAtLeast700KiBThenDeletes)
{
    struct Row {
        std::size_t size;
        int passes;
        std::uintmax_t expectedSize;
    };
    const Row rows[] = {
        {10, 3, kMinOverwriteLength},
        {0, 1, kMinOverwriteLength},
        {kMinOverwriteLength + 5000, 2, kMinOverwriteLength + 5000},
    };
    for (const Row& row : rows) {
        TempDir dir;
        const Watched w = MakeWatched(dir, row.size);
        EXPECT_TRUE(SecureDeleteFile(w.path, row.passes).ok());
        EXPECT_TRUE(test::FileNames(dir).empty()) << "neither the name nor a wipe file stays";
        const auto left = w.Left();
        EXPECT_EQ(left.size(), row.expectedSize) << "size " << row.size;
        EXPECT_LT(CountOld(left), static_cast<long>(left.size() / 100)) << "the old bytes are gone";
    }
}

TEST(SecureDelete, ZeroPassesMissingFileAndEmptyPath)
{
    TempDir dir;
    const Watched w = MakeWatched(dir, 10);
    EXPECT_TRUE(SecureDeleteFile(w.path, 0).ok());
    EXPECT_FALSE(fs::exists(w.path));
    EXPECT_EQ(w.Left(), std::vector<std::uint8_t>(10, 0xAB)) << "no pass, no overwrite";
    EXPECT_TRUE(SecureDeleteFile(w.path, -3).ok());

    EXPECT_TRUE(SecureDeleteFile(dir / "never-was", 2).ok());
    EXPECT_TRUE(SecureDeleteFile(dir / "no-such-folder/x.jpg", 1).ok());
    EXPECT_TRUE(test::FileNames(dir).empty()) << "nothing is created to be wiped";

    EXPECT_FALSE(SecureDeleteFile("", 1).ok());
}

// A negative count is no request to skip the overwrite; a huge one would make the wipe (and a
// program closing during it) wait for ever.
TEST(SecureDelete, PassesAreZeroToThirtyFive)
{
    const struct {
        int given;
        int used;
    } rows[] = {{-1, kDefaultPasses}, {-100, kDefaultPasses}, {0, 0}, {1, 1}, {35, 35}, {36, 35}, {INT_MAX, 35}};
    for (const auto& row : rows)
        EXPECT_EQ(ClampPasses(row.given), row.used) << row.given;

    TempDir dir;
    const Watched w = MakeWatched(dir, 5000);
    const WipeOutcome outcome = WipeFile(w.path, -3);
    EXPECT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.passes.passesDone, kDefaultPasses);
    EXPECT_LT(CountOld(w.Left(), 0, 5000), 100) << "overwritten, not only deleted";
}

// A stop (the program closing) is looked at before each pass: the pass in progress is
// finished, the file stays under its wipe name for the next operation in the folder, and the
// wipe is not reported as done.
TEST(SecureDelete, AStopEndsTheWipeAfterThePassInProgress)
{
    TempDir dir;
    const std::string folder = dir.path() + "/";
    for (const int stopBefore : {1, 2}) {
        SCOPED_TRACE(testing::Message() << "stop before pass " << stopBefore);
        const Watched w = MakeWatched(dir, 5000);
        int asked = 0;
        const WipeOutcome outcome = WipeFile(w.path, 5, {[&] { return ++asked >= stopBefore; }});
        EXPECT_FALSE(outcome.ok());
        EXPECT_TRUE(outcome.passes.stopped);
        EXPECT_EQ(outcome.passes.passesDone, stopBefore - 1);
        EXPECT_EQ(outcome.passes.error, 0);
        EXPECT_FALSE(fs::exists(w.path)) << "the picture's name is gone all the same";
        ASSERT_EQ(WorkFilesIn(dir).size(), 1u);
        EXPECT_EQ(dir / WorkFilesIn(dir)[0], outcome.keptAs);
        if (stopBefore > 1) {
            EXPECT_LT(CountOld(w.Left(), 0, 5000), 100) << "the pass in progress was finished";
        }

        EXPECT_EQ(FinishLeftovers(folder, 1, [] { return true; }), 0) << "a stop leaves leftovers for later";
        EXPECT_EQ(FinishLeftovers(folder, 1), 1);
        EXPECT_TRUE(test::FileNames(dir).empty());
        EXPECT_LT(CountOld(w.Left(), 0, 5000), 100);
    }
}

// A full disk: a pass that runs out of room only past the file's own length has covered all of
// it and counts; one that stops inside the file leaves the rest under a wipe name, never under
// the picture's own, for a later operation to finish.
TEST(SecureDelete, OutOfSpacePastTheFileCountsInsideItDoesNot)
{
    TempDir dir;
    {
        const Watched w = MakeWatched(dir, 8, "small.jpg");
        WipeOutcome outcome;
        {
            test::FileSizeLimit limit(100000);  // room for the file, not for a 716800-byte pass
            outcome = WipeFile(w.path, 3);
        }
        EXPECT_TRUE(outcome.ok());
        EXPECT_TRUE(outcome.passes.cutShort);
        EXPECT_EQ(outcome.passes.passesDone, 3);
        EXPECT_TRUE(test::FileNames(dir).empty());
        EXPECT_EQ(w.Left().size(), 8u) << "cut back to the file's own length";
        EXPECT_NE(w.Left(), std::vector<std::uint8_t>(8, 0xAB));
    }
    {
        const Watched w = MakeWatched(dir, 300000, "large.jpg");
        WipeOutcome outcome;
        {
            test::FileSizeLimit limit(100000);
            outcome = WipeFile(w.path, 3);
        }
        EXPECT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.passes.passesDone, 0);
        EXPECT_EQ(outcome.passes.failedAt, 100000u);
        EXPECT_EQ(outcome.passes.error, EFBIG);
        EXPECT_FALSE(fs::exists(w.path)) << "the half-overwritten bytes no longer carry the picture's name";
        const std::vector<std::string> left = WorkFilesIn(dir);
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(dir / left[0], outcome.keptAs);
        EXPECT_EQ(left[0].substr(left[0].size() - 5), ".wipe");
        const auto bytes = w.Left();
        EXPECT_LT(CountOld(bytes, 0, 100000), 1000) << "what was overwritten";
        EXPECT_EQ(CountOld(bytes, 100000), 200000) << "what was not";

        EXPECT_EQ(FinishLeftovers(dir.path() + "/", 2), 1) << "its owner is gone: the next operation finishes it";
        EXPECT_TRUE(test::FileNames(dir).empty());
        EXPECT_LT(CountOld(w.Left()), 3000);
    }
    if (test::PermissionsAreEnforced()) {
        const std::string path = dir / "keep.jpg";
        WriteFile(path, "precious");
        fs::permissions(path, fs::perms::owner_read);
        const WipeOutcome outcome = WipeFile(path, 1);
        EXPECT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.keptAs, path) << "a file that cannot be overwritten keeps its name";
        EXPECT_EQ(ReadFile(path), test::Bytes("precious"));
    }
}

TEST(SecureDelete, NeverWritesThroughLinksOrIntoFoldersOrPipes)
{
    TempDir dir;
    const std::string target = dir / "target.jpg";
    WriteFile(target, "someone else's file");
    fs::create_symlink(target, dir / "link.jpg");
    fs::create_directory(dir / "folder.jpg");
    ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);

    EXPECT_FALSE(SecureDeleteFile(dir / "link.jpg", 1).ok());
    EXPECT_EQ(ReadFile(target), test::Bytes("someone else's file"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.jpg"));
    EXPECT_FALSE(SecureDeleteFile(dir / "folder.jpg", 1).ok());
    EXPECT_TRUE(fs::is_directory(dir / "folder.jpg"));
    EXPECT_FALSE(SecureDeleteFile(dir / "pipe.jpg", 1).ok()) << "and it returns instead of waiting for a writer";
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.jpg"));
}

// Overwriting a file with other links would destroy what those names hold.
TEST(SecureDelete, HardLinkedFileOnlyLosesItsName)
{
    TempDir dir;
    WriteFile(dir / "a.jpg", "shared picture");
    fs::create_hard_link(dir / "a.jpg", dir / "backup.jpg");
    const WipeOutcome outcome = WipeFile(dir / "a.jpg", 3);
    EXPECT_TRUE(outcome.ok());
    EXPECT_TRUE(outcome.otherLinks);
    EXPECT_FALSE(fs::exists(dir / "a.jpg"));
    EXPECT_EQ(ReadFile(dir / "backup.jpg"), test::Bytes("shared picture"));
}

TEST(SecureDelete, LeftoversWhoseOwnerIsGone)
{
    TempDir dir;
    const std::string folder = dir.path() + "/";
    const std::string abandoned = ".quillix-0123456789abcdef.tmp", wiping = ".quillix-fedcba9876543210.wipe",
                      inUse = ".quillix-00000000000000aa.tmp", linked = ".quillix-00000000000000bb.tmp";
    const Watched orphan = MakeWatched(dir, 5000, abandoned.c_str());
    WriteFile(dir / wiping, std::string(20, 'w'));
    WriteFile(dir / inUse, "being written");
    const UniqueFd owner = OpenFile(dir / inUse, O_RDONLY);
    ASSERT_EQ(::flock(owner.get(), LOCK_EX), 0) << "a live owner holds the lock";
    // A rename by link and unlink cut short: the result already has its own name.
    WriteFile(dir / "$done.jpg", "a finished container");
    fs::create_hard_link(dir / "$done.jpg", dir / linked);
    for (const char* name : {".quillix-copy-abc", ".quillix-0123.tmp", ".quillix-0123456789ABCDEF.tmp", "x.tmp",
                             ".quillix-0123456789abcdef.tmp.jpg"})
        WriteFile(dir / name, "not ours");

    EXPECT_EQ(FinishLeftovers(folder, 1), 3);
    EXPECT_EQ(test::FileNames(dir),
              (std::set<std::string>{inUse, "$done.jpg", ".quillix-copy-abc", ".quillix-0123.tmp",
                                     ".quillix-0123456789ABCDEF.tmp", "x.tmp", ".quillix-0123456789abcdef.tmp.jpg"}));
    EXPECT_LT(CountOld(orphan.Left(), 0, 5000), 100) << "overwritten before it went";
    EXPECT_EQ(ReadFile(dir / "$done.jpg"), test::Bytes("a finished container"));
    EXPECT_EQ(ReadFile(dir / inUse), test::Bytes("being written"));
}

}  // namespace
}  // namespace quillix::container
