#include "gallery/thumbnail_maker.h"
#include "gallery/thumbnail_schedule.h"

#include "container/file_ops.h"
#include "crypto/ciphers.h"
#include "imaging/animation_encoder.h"
#include "imaging/png_codec.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quillix::gallery {
namespace {

using test::TempDir;

constexpr const char* kPassword = "correct horse";

container::FileOptions QuickOptions()
{
    container::FileOptions options;
    options.Passes = 0;
    return options;
}

// Writes `bytes` as `name`, then encrypts it into "$" + name when `encrypt`.
std::string Place(const TempDir& dir, const std::string& name, const std::vector<std::uint8_t>& bytes, bool encrypt)
{
    const std::string path = dir / name;
    test::WriteFile(path, bytes);
    if (!encrypt) return path;
    Result<std::string> container = container::EncryptToContainer(path, kPassword, QuickOptions());
    EXPECT_TRUE(container) << container.error().message;
    return container ? container.value() : std::string();
}

std::vector<std::uint8_t> Png(int width, int height)
{
    return imaging::EncodePng(test::Gradient(width, height)).value();
}

std::vector<std::uint8_t> TwoFrameGif()
{
    imaging::GifEncodeInput gif;
    gif.width = 40;
    gif.height = 20;
    gif.globalColours = {qRgb(255, 0, 0), qRgb(0, 0, 255)};
    for (const std::uint8_t colour : {0, 1}) {
        imaging::GifEncodeFrame frame;
        frame.width = 40;
        frame.height = 20;
        frame.indices.assign(800, colour);
        frame.delayCs = 10;
        gif.frames.push_back(frame);
    }
    return imaging::EncodeGif(gif).value();
}

struct Case {
    const char* what;
    std::string name;
    std::vector<std::uint8_t> bytes;
    bool encrypt;
    std::string password;
    ThumbnailKind kind;
    QSize size;  // of the stored image
};

TEST(MakeThumbnail, KindsAndSizesAtTile128)
{
    const std::vector<std::uint8_t> photo = test::JpegFixture(test::Gradient(1000, 500), 85);
    const QSize placeholder(104, 104);
    const std::vector<Case> cases = {
        {"a wide photo fits the 104 well", "photo.jpg", photo, false, "", ThumbnailKind::Picture, {104, 52}},
        {"a small picture is enlarged", "small.png", Png(50, 50), false, "", ThumbnailKind::Picture, {104, 104}},
        {"a damaged plain file gives nothing",
         "broken.jpg",
         {0xFF, 0xD8, 0xFF, 0x00, 1, 2},
         false,
         "",
         ThumbnailKind::None,
         {0, 0}},
        {"an animated GIF shows its first frame",
         "anim.gif",
         TwoFrameGif(),
         false,
         "",
         ThumbnailKind::Picture,
         {104, 52}},
        {"a container before any password", "secret.png", Png(60, 30), true, "", ThumbnailKind::Placeholder,
         placeholder},
        {"a container under a wrong password", "secret.png", Png(60, 30), true, "wrong", ThumbnailKind::Placeholder,
         placeholder},
        {"a container under its password",
         "secret.png",
         Png(60, 30),
         true,
         kPassword,
         ThumbnailKind::Picture,
         {104, 52}},
        {"a .jpg container holding a PNG", "mislabelled.jpg", Png(60, 30), true, kPassword, ThumbnailKind::Placeholder,
         placeholder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = Place(dir, c.name, c.bytes, c.encrypt);
        ThumbnailRequest request;
        request.path = path;
        request.password = c.password;
        request.fileNamePW = QuickOptions().FileNamePW;
        request.tileSize = 128;
        const Thumbnail made = MakeThumbnail(request);
        EXPECT_EQ(made.kind, c.kind);
        EXPECT_EQ(made.image.size(), c.size);
    }
}

TEST(MakeThumbnail, ContainerPictureMatchesThePlainOne)
{
    TempDir dir;
    const std::vector<std::uint8_t> png = Png(200, 100);
    ThumbnailRequest plain{Place(dir, "a.png", png, false), "", true, 128};
    ThumbnailRequest sealed{Place(dir, "b.png", png, true), kPassword, true, 128};
    const Thumbnail a = MakeThumbnail(plain);
    const Thumbnail b = MakeThumbnail(sealed);
    ASSERT_EQ(b.kind, ThumbnailKind::Picture);
    EXPECT_LT(test::MeanAbsoluteError(a.image, b.image), 0.01);
}

// A strong container is one by its header, whatever its name: decrypted in memory for its
// thumbnail, a placeholder without the password, and never read as a plain picture.
TEST(MakeThumbnail, AStrongContainerWithoutItsDollarName)
{
    TempDir dir;
    const std::vector<std::uint8_t> png = Png(200, 100);
    test::WriteFile(dir / "b.png", png);
    container::FileOptions strong = QuickOptions();
    strong.EncryptionAlg = crypto::CipherStrong;
    ASSERT_TRUE(container::EncryptToContainer(dir / "b.png", kPassword, strong).ok());
    std::filesystem::remove(dir / "b.png");
    std::filesystem::rename(dir / "$b.png", dir / "b.png");

    const Thumbnail a = MakeThumbnail({Place(dir, "a.png", png, false), "", true, 128});
    const Thumbnail b = MakeThumbnail({dir / "b.png", kPassword, true, 128});
    ASSERT_EQ(b.kind, ThumbnailKind::Picture);
    EXPECT_LT(test::MeanAbsoluteError(a.image, b.image), 0.01);
    EXPECT_EQ(MakeThumbnail({dir / "b.png", "", true, 128}).kind, ThumbnailKind::Placeholder);
}

TEST(MakeThumbnail, VanishedFileGivesNothing)
{
    TempDir dir;
    EXPECT_EQ(MakeThumbnail({dir / "gone.jpg", "", true, 128}).kind, ThumbnailKind::None);
    EXPECT_EQ(MakeThumbnail({dir / "$gone.jpg", kPassword, true, 128}).kind, ThumbnailKind::Placeholder);
}

std::vector<int> Drain(ThumbnailSchedule& schedule)
{
    std::vector<int> order;
    for (int i = schedule.Next(); i >= 0; i = schedule.Next())
        order.push_back(i);
    return order;
}

TEST(ThumbnailSchedule, VisibleTilesFirstThenListOrder)
{
    ThumbnailSchedule schedule;
    schedule.Reset(8);
    schedule.SetVisible(4, 5);
    EXPECT_EQ(Drain(schedule), (std::vector<int>{4, 5, 0, 1, 2, 3, 6, 7}));
    EXPECT_EQ(schedule.Running(), 8);
}

TEST(ThumbnailSchedule, ScrollingMovesNewlyVisibleTilesToTheFront)
{
    ThumbnailSchedule schedule;
    schedule.Reset(10);
    schedule.SetVisible(0, 1);
    EXPECT_EQ(schedule.Next(), 0);
    EXPECT_EQ(schedule.Next(), 1);
    EXPECT_EQ(schedule.Next(), 2);
    schedule.SetVisible(8, 9);
    EXPECT_EQ(schedule.Next(), 8);
    EXPECT_EQ(schedule.Next(), 9);
    EXPECT_EQ(schedule.Next(), 3);
}

TEST(ThumbnailSchedule, OlderGenerationsAreDropped)
{
    ThumbnailSchedule schedule;
    schedule.Reset(3);
    const int old = schedule.Generation();
    const int index = schedule.Next();
    schedule.Reset(3);
    EXPECT_FALSE(schedule.Finish(old, index));
    EXPECT_EQ(schedule.Running(), 0);
    EXPECT_FALSE(schedule.Complete());

    for (int i = schedule.Next(); i >= 0; i = schedule.Next())
        EXPECT_TRUE(schedule.Finish(schedule.Generation(), i));
    EXPECT_TRUE(schedule.Complete());
    EXPECT_FALSE(schedule.Finish(schedule.Generation(), 0)) << "a tile is stored once";
}

TEST(ThumbnailSchedule, EmptyListIsComplete)
{
    ThumbnailSchedule schedule;
    schedule.Reset(0);
    schedule.SetVisible(0, 5);
    EXPECT_EQ(schedule.Next(), -1);
    EXPECT_TRUE(schedule.Complete());
}

}  // namespace
}  // namespace quillix::gallery
