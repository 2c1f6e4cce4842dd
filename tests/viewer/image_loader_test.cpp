#include "browse/file_commands.h"
#include "container/file_crypto.h"
#include "imaging/jpeg_codec.h"
#include "support/containers.h"
#include "support/picture_files.h"
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

// A container that the password of the run does not open says what to do, whatever its format;
// one that no password could open keeps the text of its failure.
TEST(ImageLoader, AContainerThatWantsAnotherPasswordSaysWhatToDo)
{
    test::TempDir dir;
    test::ScriptedDialogs dialogs;
    container::FileCrypto crypto(dialogs, {});
    const std::vector<std::uint8_t> jpeg =
        test::ValueOrThrow(imaging::EncodeJpeg(test::Filled(8, 6, qRgb(10, 20, 30)), 90));
    test::MakeContainer(dir.path(), "a.jpg", jpeg, "right", true);
    test::MakeContainer(dir.path(), "b.webp", jpeg, "right", true);
    test::MakeContainer(dir.path(), "c.gif", jpeg, "right", false, 4);  // the strong format
    test::WriteFile(dir / "$d.jpg", std::string("not a container"));
    test::WriteFile(dir / "$e.webp", std::string("not a container"));

    struct Row {
        const char* password;  // none when null
        const char* name;
        const char* text;
        bool wantsPassword;
    };
    const Row rows[] = {
        {nullptr, "$a.jpg", kLockedNoPassword, true},
        {nullptr, "$b.webp", kLockedNoPassword, true},
        {nullptr, "$c.gif", kLockedNoPassword, true},
        {"wrong", "$a.jpg", kLockedWrongPassword, true},
        {"wrong", "$b.webp", kLockedWrongPassword, true},
        {"wrong", "$c.gif", kLockedWrongPassword, true},
        {"wrong", "$d.jpg", "Decrypt failed (file error).", false},
        {"wrong", "$e.webp", "Decrypt failed (wrong password or file corrupt).", false},
        {"right", "$d.jpg", "Decrypt failed (file error).", false},
    };
    for (const Row& row : rows) {
        crypto.ClearPassword();
        if (row.password) {
            dialogs.passwords = {std::string(row.password)};
            ASSERT_TRUE(crypto.EnsurePassword(false));
        }
        const Result<LoadedPicture> loaded = LoadPicture(dir / row.name, crypto, true);
        ASSERT_FALSE(loaded.ok()) << row.name;
        EXPECT_EQ(loaded.error().message, row.text) << row.name << " under " << (row.password ? row.password : "none");
        EXPECT_EQ(WantsPassword(loaded.error()), row.wantsPassword) << row.name;
    }

    // The right password opens what the lock screen stood for.
    dialogs.passwords = {std::string("right")};
    crypto.ClearPassword();
    ASSERT_TRUE(crypto.EnsurePassword(false));
    const Result<LoadedPicture> shown = LoadPicture(dir / "$a.jpg", crypto, true);
    ASSERT_TRUE(shown.ok()) << shown.error().message;
    EXPECT_EQ(shown.value().still.size(), QSize(8, 6));
}

}  // namespace
}  // namespace quillix::viewer
