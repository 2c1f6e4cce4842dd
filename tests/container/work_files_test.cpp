#include "common/paths.h"
#include "container/secure_delete.h"
#include "container/work_files.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace quillix::container {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// A temporary file is private and locked while it is written, takes its final permissions only
// with its name, and never takes a name that is in use.
TEST(WorkFiles, TemporaryFileFromCreationToItsName)
{
    TempDir dir;
    const std::string folder = dir.path() + "/";
    Result<WorkFile> made = WorkFile::Create(folder, 0);
    ASSERT_TRUE(made.ok()) << made.error().message;
    WorkFile& temp = made.value();
    const std::string name = FileNameOf(temp.path());
    EXPECT_TRUE(IsWorkFileName(name)) << name;
    EXPECT_EQ(name.size(), 29u) << "short whatever the picture's name";
    EXPECT_EQ(ModeOf(temp.path()), 0600u);
    EXPECT_EQ(FinishLeftovers(folder, 1), 0) << "in use: its lock tells";
    ASSERT_TRUE(WriteAll(temp.fd(), test::Bytes("picture")));

    test::WriteFile(dir / "taken.jpg", "someone's picture");
    const Result<void> refused = temp.CommitAs(dir / "taken.jpg", 0644);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, ErrorKind::Exists);
    EXPECT_EQ(test::ReadText(dir / "taken.jpg"), "someone's picture");
    EXPECT_EQ(ModeOf(temp.path()), 0600u);

    ASSERT_TRUE(temp.CommitAs(dir / "photo.jpg", 0640).ok());
    EXPECT_EQ(test::ReadText(dir / "photo.jpg"), "picture");
    EXPECT_EQ(ModeOf(dir / "photo.jpg"), 0640u);
    EXPECT_EQ(test::FileNames(dir), (std::set<std::string>{"taken.jpg", "photo.jpg"}));
}

TEST(WorkFiles, UncommittedTemporaryFileGoesOverwrittenWhenItHeldPlainBytes)
{
    TempDir dir;
    const std::string folder = dir.path() + "/";
    UniqueFd watch;
    {
        Result<WorkFile> made = WorkFile::Create(folder, 1);
        ASSERT_TRUE(made.ok());
        ASSERT_TRUE(WriteAll(made.value().fd(), std::vector<std::uint8_t>(5000, 0xAB)));
        watch = OpenFile(made.value().path(), O_RDONLY);
    }
    EXPECT_TRUE(test::FileNames(dir).empty());
    std::vector<std::uint8_t> left(5000);
    ASSERT_EQ(ReadAt(watch.get(), left, 0), 5000);
    EXPECT_LT(std::count(left.begin(), left.end(), 0xAB), 100);
}

}  // namespace
}  // namespace quillix::container
