#include "browse/file_commands.h"
#include "container/file_crypto.h"
#include "imaging/heif_fixtures.h"
#include "imaging/jpeg_codec.h"
#include "imaging/jxl_fixtures.h"
#include "imaging/tiff_fixtures.h"
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

// The viewer shows each new format plain and from a container: a TIFF's first page with the
// count of its pages, a JPEG XL animation with its own timing, a HEIC turned as its file says.
TEST(ImageLoader, PhoneAndCameraFormatsPlainAndEncrypted)
{
    test::TempDir dir;
    test::ScriptedDialogs dialogs;
    container::FileCrypto crypto(dialogs, {});
    dialogs.passwords = {std::string("pw")};
    ASSERT_TRUE(crypto.EnsurePassword(false));

    test::TiffPlan tiff;
    tiff.pages.resize(3);
    for (test::TiffPage& page : tiff.pages)
        page.picture = test::Filled(30, 20, qRgb(0, 200, 0));
    tiff.pages[0].picture = test::Filled(30, 20, qRgb(200, 0, 0));
    test::JxlPlan animation;
    animation.frames = {{test::Filled(16, 12, qRgb(255, 0, 0)), 5}, {test::Filled(16, 12, qRgb(0, 0, 255)), 250}};
    test::HeifPlan heif;
    heif.picture = test::Filled(40, 24, qRgb(30, 60, 200));
    heif.orientation = heif_orientation_rotate_270_cw;

    struct Row {
        const char* name;
        std::vector<std::uint8_t> bytes;
        QSize size;
        QRgb colour;  // of the still, or of the first frame
        int pages;
        std::vector<int> delays;  // an animation's
    };
    const Row rows[] = {
        {"scan.tif", test::TiffFixture(tiff), {30, 20}, qRgb(200, 0, 0), 3, {}},
        {"moving.jxl", test::EncodeJxlFixture(animation), {16, 12}, qRgb(255, 0, 0), 1, {20, 250}},
        {"phone.HEIC", test::EncodeHeif(heif), {24, 40}, qRgb(30, 60, 200), 1, {}},
    };
    for (const Row& row : rows) {
        for (const bool encrypt : {false, true}) {
            SCOPED_TRACE(testing::Message() << row.name << (encrypt ? " encrypted" : " plain"));
            const std::string path = encrypt ? test::MakeContainer(dir.path(), row.name, row.bytes, "pw", true)
                                             : (test::WriteFile(dir / row.name, row.bytes), dir / row.name);
            const Result<LoadedPicture> loaded = LoadPicture(path, crypto, true);
            ASSERT_TRUE(loaded.ok()) << loaded.error().message;
            const LoadedPicture& picture = loaded.value();
            EXPECT_EQ(picture.encrypted, encrypt);
            EXPECT_EQ(picture.pages, row.pages);
            const QImage& shown = row.delays.empty() ? picture.still : picture.gif->frames.front().image;
            ASSERT_EQ(shown.size(), row.size);
            const QRgb centre = shown.pixel(row.size.width() / 2, row.size.height() / 2);
            EXPECT_LE(std::abs(qRed(centre) - qRed(row.colour)) + std::abs(qBlue(centre) - qBlue(row.colour)), 16)
                << std::hex << centre;
            if (row.delays.empty()) {
                EXPECT_FALSE(picture.gif);
                continue;
            }
            ASSERT_TRUE(picture.gif);
            EXPECT_TRUE(picture.playerSpeed);
            std::vector<int> delays;
            for (const imaging::GifFrame& frame : picture.gif->frames)
                delays.push_back(frame.delayMs);
            EXPECT_EQ(delays, row.delays) << "a frame shorter than 20 ms is shown for 20";
        }
    }
}

}  // namespace
}  // namespace quillix::viewer
