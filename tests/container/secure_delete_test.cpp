#include "container/secure_delete.h"
#include "support/file_size_limit.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quillix::container {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A second hard link keeps the inode alive after the delete, so the bytes the passes left behind
// can be inspected.
struct Watched {
    std::string path;
    std::string link;
};

Watched MakeWatched(const TempDir& dir, std::size_t size)
{
    Watched w{dir / "victim.jpg", dir / "watch"};
    WriteFile(w.path, std::vector<std::uint8_t>(size, 0xAB));
    fs::create_hard_link(w.path, w.link);
    return w;
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
        EXPECT_TRUE(SecureDeleteFile(w.path, row.passes));
        EXPECT_FALSE(fs::exists(w.path));
        const auto left = ReadFile(w.link);
        EXPECT_EQ(left.size(), row.expectedSize) << "size " << row.size;
        EXPECT_LT(std::count(left.begin(), left.end(), 0xAB), static_cast<long>(left.size() / 100))
            << "the old bytes are gone";
    }
}

TEST(SecureDelete, ZeroPassesMissingFileAndEmptyPath)
{
    TempDir dir;
    const Watched w = MakeWatched(dir, 10);
    EXPECT_TRUE(SecureDeleteFile(w.path, 0));
    EXPECT_FALSE(fs::exists(w.path));
    EXPECT_EQ(ReadFile(w.link), std::vector<std::uint8_t>(10, 0xAB)) << "no pass, no overwrite";
    EXPECT_TRUE(SecureDeleteFile(w.path, -3));

    EXPECT_TRUE(SecureDeleteFile(dir / "never-was", 2));
    EXPECT_FALSE(fs::exists(dir / "never-was")) << "created for the passes, then deleted";

    EXPECT_FALSE(SecureDeleteFile("", 1));
}

TEST(SecureDelete, FailedPassStopsAndKeepsTheFile)
{
    TempDir dir;
    const std::string path = dir / "keep.jpg";
    WriteFile(path, "precious");
    {
        test::FileSizeLimit limit(100000);  // the first pass cannot reach 716800 bytes
        EXPECT_FALSE(SecureDeleteFile(path, 3));
    }
    EXPECT_TRUE(fs::exists(path));

    EXPECT_FALSE(SecureDeleteFile(dir / "no-such-folder/x.jpg", 1));

    if (test::PermissionsAreEnforced()) {
        WriteFile(path, "precious");
        fs::permissions(path, fs::perms::owner_read);
        EXPECT_FALSE(SecureDeleteFile(path, 1));
        EXPECT_EQ(ReadFile(path), test::Bytes("precious"));
    }
}

TEST(SecureDelete, NeverWritesThroughLinksOrIntoFolders)
{
    TempDir dir;
    const std::string target = dir / "target.jpg";
    WriteFile(target, "someone else's file");
    fs::create_symlink(target, dir / "link.jpg");
    fs::create_directory(dir / "folder.jpg");

    EXPECT_FALSE(SecureDeleteFile(dir / "link.jpg", 1));
    EXPECT_EQ(ReadFile(target), test::Bytes("someone else's file"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.jpg"));
    EXPECT_FALSE(SecureDeleteFile(dir / "folder.jpg", 1));
    EXPECT_TRUE(fs::is_directory(dir / "folder.jpg"));
}

}  // namespace
}  // namespace quillix::container
