#include "imaging/picture_properties.h"

#include "anim_fixtures.h"
#include "container/file_crypto.h"
#include "crypto/ciphers.h"
#include "support/containers.h"
#include "support/exif_fixture.h"
#include "support/scoped_env.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

namespace quillix::imaging {
namespace {

using Lines = std::vector<std::string>;

// Local time made predictable for one test, and put back after it.
class FixedZone {
public:
    explicit FixedZone(const char* zone) : env_("TZ", zone) { ::tzset(); }
    ~FixedZone() { ::tzset(); }

private:
    test::ScopedEnv env_;
};

std::vector<std::uint8_t> CameraJpeg(int width, int height, std::optional<std::uint16_t> orientation = {})
{
    test::ExifPlan plan;
    plan.make = "Canon";
    plan.model = "Canon EOS 80D";
    plan.dateTimeOriginal = "2024:06:01 14:22:10";
    plan.orientation = orientation;
    return test::WithExif(test::JpegFixture(test::Solid(width, height, qRgb(90, 120, 200)), 90), plan);
}

std::vector<std::uint8_t>::const_iterator StartOfScan(const std::vector<std::uint8_t>& jpeg)
{
    const std::uint8_t sos[] = {0xFF, 0xDA};
    return std::search(jpeg.begin(), jpeg.end(), std::begin(sos), std::end(sos));
}

std::vector<std::uint8_t> Png(int width, int height)
{
    test::PngPlan plan;
    plan.width = width;
    plan.height = height;
    plan.sample = [](int, int, int) { return 7; };
    return test::PngFixture(plan);
}

std::vector<std::uint8_t> Gif(int frames)
{
    test::GifFixture gif;
    gif.width = 12;
    gif.height = 9;
    gif.globalColours = {qRgb(0, 0, 0), qRgb(255, 0, 0)};
    for (int i = 0; i < frames; ++i)
        gif.frames.push_back(test::FilledGifFrame(0, 0, 12, 9, static_cast<std::uint8_t>(i % 2)));
    return test::EncodeGif(gif);
}

TEST(PictureFacts, FormatSizeAndAnimationFromTheHeadersAlone)
{
    test::BmpPlan bmp;
    bmp.width = 5;
    bmp.height = 7;
    bmp.pixel = [](int, int) { return qRgb(1, 2, 3); };
    test::BmpPlan topDown = bmp;
    topDown.topDown = true;
    const std::vector<std::uint8_t> pngBytes = Png(30, 20);
    const std::vector<std::uint8_t> jpeg = CameraJpeg(67, 41);
    std::vector<std::uint8_t> damagedJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
    damagedJpeg.resize(120, 0);

    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        ImageFormat format;
        int width, height;
        bool animated;
    } cases[] = {
        {"JPEG", jpeg, ImageFormat::Jpeg, 67, 41, false},
        {"JPEG turned by its EXIF orientation", CameraJpeg(67, 41, 6), ImageFormat::Jpeg, 41, 67, false},
        {"JPEG cut short in its first scan", {jpeg.begin(), StartOfScan(jpeg) + 20}, ImageFormat::Jpeg, 67, 41, false},
        {"PNG", pngBytes, ImageFormat::Png, 30, 20, false},
        {"PNG cut inside its header", {pngBytes.begin(), pngBytes.begin() + 20}, ImageFormat::Png, 0, 0, false},
        {"BMP", test::BmpFixture(bmp), ImageFormat::Bmp, 5, 7, false},
        {"BMP stored top-down", test::BmpFixture(topDown), ImageFormat::Bmp, 5, 7, false},
        {"GIF of one frame", Gif(1), ImageFormat::Gif, 12, 9, false},
        {"GIF of three frames", Gif(3), ImageFormat::Gif, 12, 9, true},
        {"WebP", test::EncodeStillWebP(test::Solid(8, 6, qRgb(5, 6, 7))), ImageFormat::WebP, 8, 6, false},
        {"animated WebP",
         test::EncodeAnimatedWebP({{test::Solid(8, 6, qRgb(5, 6, 7)), 100}, {test::Solid(8, 6, qRgb(9, 9, 9)), 100}},
                                  0),
         ImageFormat::WebP, 8, 6, true},
        {"JPEG whose header is zeros", damagedJpeg, ImageFormat::Jpeg, 0, 0, false},
        {"not a picture", test::PseudoRandomBytes(300), ImageFormat::Unknown, 0, 0, false},
        {"empty", {}, ImageFormat::Unknown, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PictureFacts facts = ReadPictureFacts(c.bytes);
        EXPECT_EQ(facts.format, c.format);
        EXPECT_EQ(facts.width, c.width);
        EXPECT_EQ(facts.height, c.height);
        EXPECT_EQ(facts.animated, c.animated);
    }
    EXPECT_EQ(FormatName(ImageFormat::Gif, true), "GIF, animated");
    EXPECT_EQ(FormatName(ImageFormat::WebP), "WebP");
    EXPECT_EQ(FormatName(ImageFormat::Unknown), "");
}

TEST(PictureFacts, CameraAndDateTakenFromExif)
{
    const struct {
        const char* make;
        const char* model;
        const char* date;
        const char* camera;
        const char* taken;
    } cases[] = {
        {"Canon", "Canon EOS 80D", "2024:06:01 14:22:10", "Canon EOS 80D", "2024-06-01 14:22:10"},
        {"Apple", "iPhone 12", "", "Apple iPhone 12", ""},
        {"  Quillix Camera  ", "", "", "Quillix Camera", ""},
        {"", "", "2024:06:01", "", "2024:06:01"},
    };
    const std::vector<std::uint8_t> plain = test::JpegFixture(test::Solid(16, 16, qRgb(1, 2, 3)), 90);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.camera);
        test::ExifPlan plan;
        plan.make = c.make;
        plan.model = c.model;
        plan.dateTimeOriginal = c.date;
        const PictureFacts facts = ReadPictureFacts(test::WithExif(plain, plan));
        EXPECT_EQ(facts.camera, c.camera);
        EXPECT_EQ(facts.taken, c.taken);
        EXPECT_EQ(facts.width, 16);
    }
    const PictureFacts none = ReadPictureFacts(plain);
    EXPECT_EQ(none.camera, "");
    EXPECT_EQ(none.taken, "");
}

TEST(PictureProperties, SizesReadableWithExactBytes)
{
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 bytes"},
        {1, "1 byte"},
        {1023, "1023 bytes"},
        {1024, "1.00 KB (1,024 bytes)"},
        {1536, "1.50 KB (1,536 bytes)"},
        {4'412'345, "4.21 MB (4,412,345 bytes)"},
        {3'221'225'472, "3.00 GB (3,221,225,472 bytes)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
}

// kOldTime, 2001-09-09 01:46:40 UTC, as the box shows it two hours east of Greenwich.
constexpr const char* kOldTimeThere = "Modified: 2001-09-09 03:46:40";

TEST(PictureProperties, PlainFilesNeverShowHeaderNumbers)
{
    const FixedZone zone("UTC-2");
    test::TempDir dir;
    test::ScriptedDialogs dialogs;
    const container::FileCrypto crypto(dialogs, {});
    const std::vector<std::uint8_t> jpeg = CameraJpeg(64, 48);
    test::WriteFile(dir / "cat.jpg", jpeg);
    test::WriteFile(dir / "dog.png", Png(30, 20));
    std::vector<std::uint8_t> jfif = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
    jfif.resize(120, 0);  // its bytes 4 and 5 once read as "version=0  alg=16"
    test::WriteFile(dir / "damaged.jpg", jfif);
    test::WriteFile(dir / "notes.jpg", "just some text, no picture at all");
    // A "$" name on a file that is no container: a plain file all the same.
    test::WriteFile(dir / "$plain.png", test::ReadFile(dir / "dog.png"));
    for (const char* name : {"cat.jpg", "dog.png", "damaged.jpg", "notes.jpg", "$plain.png"})
        test::SetOldTime(dir / name);

    const std::string png = SizeText(std::filesystem::file_size(dir / "dog.png"));
    const struct {
        const char* name;
        Lines lines;
    } cases[] = {
        {"cat.jpg",
         {"Name: cat.jpg", "Format: JPEG", "Dimensions: 64 × 48 pixels", "File size: " + SizeText(jpeg.size()),
          kOldTimeThere, "Camera: Canon EOS 80D", "Taken: 2024-06-01 14:22:10"}},
        {"dog.png", {"Name: dog.png", "Format: PNG", "Dimensions: 30 × 20 pixels", "File size: " + png, kOldTimeThere}},
        {"$plain.png",
         {"Name: $plain.png", "Format: PNG", "Dimensions: 30 × 20 pixels", "File size: " + png, kOldTimeThere}},
        {"damaged.jpg",
         {"Name: damaged.jpg", "Format: JPEG", "Dimensions: unreadable, the picture's header is damaged",
          "File size: 120 bytes", kOldTimeThere}},
        {"notes.jpg",
         {"Name: notes.jpg", "Format: not a picture this program shows", "File size: 33 bytes", kOldTimeThere}},
        {"gone.jpg", {"Name: gone.jpg", "The file is no longer there"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PictureProperties properties = GatherProperties(dir / c.name, crypto);
        EXPECT_EQ(properties.access, PictureAccess::Plain);
        EXPECT_EQ(properties.header, "");
        EXPECT_EQ(PropertiesLines(properties), c.lines);
    }
    EXPECT_TRUE(dialogs.passwordRequests.empty()) << "the box never asks for a password";

    std::filesystem::create_directory(dir / "folder.jpg");
    EXPECT_EQ(PropertiesLines(GatherProperties(dir / "folder.jpg", crypto)),
              (Lines{"Name: folder.jpg", "Not a regular file"}));
}

TEST(PictureProperties, ContainersShowTheirPictureOnlyUnderTheRightPassword)
{
    const FixedZone zone("UTC-2");
    const struct {
        const char* name;
        int alg;
        const char* header;
    } formats[] = {
        // The fixture's fast mode, and the whole body encrypted.
        {"compatible", crypto::CipherTwofish, "Header: version=2  alg=3  iters=20000  encBytes=%SIZE%"},
        {"strong", crypto::CipherStrong, "Header: version=3  kdf=Argon2id  passes=3  memory=65536 KiB"},
    };
    const std::vector<std::uint8_t> jpeg = CameraJpeg(64, 48);
    for (const auto& f : formats) {
        SCOPED_TRACE(f.name);
        test::TempDir dir;
        const std::string path = test::MakeContainer(dir.path(), "cat.jpg", jpeg, "right", true, f.alg);
        const std::string size = "File size: " + SizeText(std::filesystem::file_size(path));
        std::string header = f.header;
        if (const std::size_t at = header.find("%SIZE%"); at != std::string::npos)
            header.replace(at, 6, std::to_string(jpeg.size()));
        const std::string format =
            std::string("Format: JPEG, ") + (f.alg == crypto::CipherStrong ? "encrypted (strong)" : "encrypted");
        const struct {
            const char* password;  // empty: none entered
            Lines lines;
        } cases[] = {
            {"",
             {"Name: $cat.jpg", format, header, "Locked: no password has been entered; press Ctrl+Shift+P to type it",
              size, kOldTimeThere}},
            {"wrong",
             {"Name: $cat.jpg", format, header, "Locked: the password does not open this picture", size,
              kOldTimeThere}},
            {"right",
             {"Name: $cat.jpg", format, header, "Dimensions: 64 × 48 pixels", size, kOldTimeThere,
              "Camera: Canon EOS 80D", "Taken: 2024-06-01 14:22:10"}},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.password);
            test::ScriptedDialogs dialogs;
            container::FileCrypto crypto(dialogs, {});
            if (*c.password) {
                dialogs.passwords.push_back(c.password);
                ASSERT_TRUE(crypto.EnsurePassword(false));
            }
            EXPECT_EQ(PropertiesLines(GatherProperties(path, crypto)), c.lines);
            EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$cat.jpg"}) << "nothing decrypted to disk";
            EXPECT_TRUE(test::HasOldTime(path));
        }
    }
}

// A strong container is one by its header, whatever its name.
TEST(PictureProperties, StrongContainerUnderAPlainName)
{
    test::TempDir dir;
    const std::string sealed = test::MakeContainer(dir.path(), "a.png", Png(4, 3), "pw", true, crypto::CipherStrong);
    std::filesystem::rename(sealed, dir / "renamed.png");
    test::ScriptedDialogs dialogs;
    dialogs.passwords.push_back("pw");
    container::FileCrypto crypto(dialogs, {});
    ASSERT_TRUE(crypto.EnsurePassword(false));
    const PictureProperties properties = GatherProperties(dir / "renamed.png", crypto);
    EXPECT_TRUE(properties.strong);
    EXPECT_EQ(properties.access, PictureAccess::Opened);
    EXPECT_EQ(properties.facts.format, ImageFormat::Png);
    EXPECT_EQ(properties.facts.width, 4);
}

}  // namespace
}  // namespace quillix::imaging
