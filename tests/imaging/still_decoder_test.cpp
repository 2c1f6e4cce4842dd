#include "imaging/anim_fixtures.h"
#include "imaging/bmp_codec.h"
#include "imaging/png_codec.h"
#include "imaging/still_decoder.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quillix::imaging {
namespace {

struct Fixtures {
    QImage source = test::Shapes(40, 30);
    std::vector<std::uint8_t> jpeg = test::JpegFixture(source, 95);
    std::vector<std::uint8_t> png = EncodePng(source).value();
    std::vector<std::uint8_t> bmp = EncodeBmp(source).value();
    std::vector<std::uint8_t> webp = test::EncodeStillWebP(source);
    std::vector<std::uint8_t> gif = [] {
        test::GifFixture g;
        g.width = 4;
        g.height = 3;
        g.globalColours = {qRgb(255, 0, 0), qRgb(0, 0, 255)};
        g.frames.push_back(test::FilledGifFrame(0, 0, 4, 3, 1));
        g.frames.push_back(test::FilledGifFrame(0, 0, 4, 3, 0));
        return test::EncodeGif(g);
    }();
};

TEST(DecodeStillFile, DecoderChosenByExtension)
{
    const Fixtures f;
    test::TempDir dir;
    struct Case {
        const char* name;
        const std::vector<std::uint8_t>& bytes;
        double tolerance;  // mean absolute error against the source
    };
    for (const Case& c : {Case{"a.JPG", f.jpeg, 3.0}, Case{"b.jpeg", f.jpeg, 3.0}, Case{"c.png", f.png, 0.0},
                          Case{"d.Bmp", f.bmp, 0.0}, Case{"e.webp", f.webp, 0.0}}) {
        SCOPED_TRACE(c.name);
        test::WriteFile(dir / c.name, c.bytes);
        Result<QImage> image = DecodeStillFile(dir / c.name);
        ASSERT_TRUE(image) << image.error().message;
        EXPECT_LE(test::MeanAbsoluteError(image.value(), f.source), c.tolerance);
    }

    test::WriteFile(dir / "f.gif", f.gif);
    Result<QImage> gif = DecodeStillFile(dir / "f.gif");
    ASSERT_TRUE(gif) << gif.error().message;
    EXPECT_EQ(gif.value().size(), QSize(4, 3));
    EXPECT_EQ(gif.value().pixel(2, 1), qRgb(0, 0, 255)) << "the first frame";
}

TEST(DecodeStillFile, Failures)
{
    const Fixtures f;
    test::TempDir dir;
    test::WriteFile(dir / "x.png", f.jpeg);
    test::WriteFile(dir / "x.tif", f.png);
    test::WriteFile(dir / "x.tga", f.png);
    std::filesystem::create_directory(dir / "folder.jpg");
    struct Case {
        const char* name;
        ErrorKind kind;
    };
    for (const Case& c :
         {Case{"x.png", ErrorKind::BadHeader}, Case{"x.tif", ErrorKind::BadHeader},
          Case{"x.tga", ErrorKind::Unsupported}, Case{"none.jpg", ErrorKind::Io}, Case{"folder.jpg", ErrorKind::Io}}) {
        SCOPED_TRACE(c.name);
        Result<QImage> image = DecodeStillFile(dir / c.name);
        ASSERT_FALSE(image);
        EXPECT_EQ(image.error().kind, c.kind) << image.error().message;
    }
}

TEST(LoadImageByContent, JpegBmpAndWebPWhateverTheName)
{
    const Fixtures f;
    struct Case {
        const char* name;
        const std::vector<std::uint8_t>& bytes;
        bool decodes;
    };
    const std::vector<std::uint8_t> noise = test::PseudoRandomBytes(4096);
    const std::vector<std::uint8_t> empty;
    // PNG and GIF are not among the fallback's decoders.
    for (const Case& c :
         {Case{"JPEG", f.jpeg, true}, Case{"BMP", f.bmp, true}, Case{"WebP", f.webp, true}, Case{"PNG", f.png, false},
          Case{"GIF", f.gif, false}, Case{"noise", noise, false}, Case{"empty", empty, false}}) {
        SCOPED_TRACE(c.name);
        Result<QImage> image = LoadImageByContent(c.bytes);
        ASSERT_EQ(image.ok(), c.decodes);
        if (image) {
            EXPECT_LE(test::MeanAbsoluteError(image.value(), f.source), 3.0);
        }
    }
}

}  // namespace
}  // namespace quillix::imaging
