#include "browse/file_commands.h"
#include "container/file_crypto.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "viewer/image_loader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace quillix::viewer {
namespace {

// A pipe or folder with a picture's name must never hang the viewer, whichever way the loader
// takes for its extension and name, nor its copy command: each is refused.
TEST(ImageLoader, PipesAndFoldersAreRefusedWithoutWaiting)
{
    test::TempDir dir;
    test::ScriptedDialogs dialogs;
    dialogs.passwords.push_back("pw");
    container::FileCrypto crypto(dialogs, {});
    ASSERT_TRUE(crypto.EnsurePassword(false)) << "so that encrypted names reach their reading too";

    ::alarm(60);  // a load that waits for a writer ends the program instead of the test run
    for (const char* name :
         {"pipe.jpg", "pipe.png", "pipe.bmp", "pipe.gif", "pipe.webp", "$pipe.jpg", "$pipe.gif", "$pipe.webp"}) {
        ASSERT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
        const Result<LoadedPicture> loaded = LoadPicture(dir / name, crypto, true);
        EXPECT_FALSE(loaded.ok()) << name;
    }
    std::filesystem::create_directory(dir / "folder.jpg");
    EXPECT_FALSE(LoadPicture(dir / "folder.jpg", crypto, true).ok());
    const container::NameChangeKey key{"pw", true, nullptr};
    for (const char* name : {"pipe.jpg", "$pipe.jpg"})
        EXPECT_FALSE(browse::CopyIntoFolder(dir / name, dir / "1", true, key).ok()) << "the copy keys 1 to 9: " << name;
    ::alarm(0);
}

}  // namespace
}  // namespace quillix::viewer
