#include "colour_fixtures.h"
#include "imaging/anim_fixtures.h"
#include "imaging/colour_profile.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "imaging/secure_picture.h"
#include "imaging/still_decoder.h"
#include "imaging/thumbnail.h"
#include "imaging/webp_player.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <QColorSpace>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace quillix::imaging;
using namespace quillix::test;
using quillix::Result;

double SrgbDecode(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double SrgbEncode(double v)
{
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

using Matrix = std::array<std::array<double, 3>, 3>;

// A source colour space written out independently of Qt: its transfer curve and the matrix from
// its linear values to linear sRGB. All of them have the D65 white point of sRGB, so no white
// adaptation enters.
struct Space {
    const char* name;
    QColorSpace qt;
    std::function<double(double)> decode;
    Matrix toSrgb;
};

// Display P3 (Apple): the DCI-P3 primaries with a D65 white and the sRGB curve.
const Space kDisplayP3{
    "Display P3",
    QColorSpace(QColorSpace::DisplayP3),
    SrgbDecode,
    {{{1.2249401, -0.2249404, 0.0}, {-0.0420569, 1.0420571, 0.0}, {-0.0196376, -0.0786361, 1.0982737}}}};
// Adobe RGB (1998): its own primaries and a pure gamma of 563/256.
const Space kAdobeRgb{"Adobe RGB",
                      QColorSpace(QColorSpace::AdobeRgb),
                      [](double v) { return std::pow(v, 563.0 / 256.0); },
                      {{{1.3982832, -0.3982831, 0.0}, {0.0, 1.0, 0.0}, {0.0, -0.0429383, 1.0429383}}}};
// A PNG's gAMA of 1/1.8 alone: sRGB primaries under a pure gamma.
const Space kGamma18{"gamma 1.8",
                     QColorSpace(QColorSpace::Primaries::SRgb, 1.8f),
                     [](double v) { return std::pow(v, 1.8); },
                     {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}};

// `stored` as the space means it, in sRGB; false when it lies outside sRGB's gamut.
bool InSrgb(const Space& space, QRgb stored, QRgb& shown)
{
    const std::array<double, 3> linear{space.decode(qRed(stored) / 255.0), space.decode(qGreen(stored) / 255.0),
                                       space.decode(qBlue(stored) / 255.0)};
    std::array<int, 3> out{};
    for (int row = 0; row < 3; ++row) {
        double v = 0;
        for (int column = 0; column < 3; ++column)
            v += space.toSrgb[row][column] * linear[column];
        if (v < -1e-4 || v > 1 + 1e-4) return false;
        out[row] = static_cast<int>(std::lround(SrgbEncode(std::clamp(v, 0.0, 1.0)) * 255));
    }
    shown = qRgba(out[0], out[1], out[2], qAlpha(stored));
    return true;
}

// The same pixels, whatever the format and colour space tags say.
bool SamePixels(const QImage& a, const QImage& b)
{
    QImage left = a.convertToFormat(QImage::Format_RGB32), right = b.convertToFormat(QImage::Format_RGB32);
    left.setColorSpace({});
    right.setColorSpace({});
    return left == right;
}

// Six colours within every test space's share of sRGB, moderately saturated so that a picture
// shown unconverted is visibly off, in 16 × 16 blocks (whole JPEG blocks, so each stays flat).
QImage Swatches()
{
    static constexpr std::array<QRgb, 6> kColours = {qRgb(180, 140, 100), qRgb(90, 150, 110),  qRgb(100, 120, 200),
                                                     qRgb(128, 128, 128), qRgb(230, 200, 170), qRgb(60, 60, 60)};
    QImage image(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, kColours[static_cast<std::size_t>(y / 16 * 3 + x / 16)]);
    return image;
}

std::vector<std::uint8_t> Profile(const Space& space)
{
    return Bytes(space.qt.iccProfile());
}

// Every pixel of `shown` is within `tolerance` of what the oracle makes of `stored`'s pixel
// there, and at least one moved visibly: the picture was converted, not passed through.
void ExpectConverted(const Space& space, const QImage& stored, const QImage& shown, int tolerance)
{
    ASSERT_EQ(stored.size(), shown.size());
    EXPECT_EQ(shown.colorSpace(), QColorSpace(QColorSpace::SRgb));
    const QImage plain = shown.convertToFormat(QImage::Format_ARGB32);
    int worst = 0, moved = 0;
    std::map<QRgb, QRgb> oracle;
    for (int y = 0; y < stored.height(); ++y)
        for (int x = 0; x < stored.width(); ++x) {
            auto [known, fresh] = oracle.try_emplace(stored.pixel(x, y));
            if (fresh) {
                ASSERT_TRUE(InSrgb(space, known->first, known->second))
                    << "test colour outside sRGB at " << x << "," << y;
            }
            const QRgb expected = known->second;
            worst = std::max(worst, ChannelDistance(plain.pixel(x, y), expected));
            moved = std::max(moved, ChannelDistance(plain.pixel(x, y), stored.pixel(x, y)));
        }
    EXPECT_LE(worst, tolerance) << space.name;
    EXPECT_GE(moved, 4) << space.name;
}

struct Carrier {
    const char* name;
    ImageFormat format;
    std::function<std::vector<std::uint8_t>(const QImage&, const std::vector<std::uint8_t>&)> make;
};

const std::array<Carrier, 4> kCarriers = {{
    {"JPEG APP2", ImageFormat::Jpeg,
     [](const QImage& picture, const std::vector<std::uint8_t>& profile) {
         return JpegWithProfile(EncodeJpeg(picture, 95).value(), profile);
     }},
    {"JPEG APP2 turned by EXIF", ImageFormat::Jpeg,
     [](const QImage& picture, const std::vector<std::uint8_t>& profile) {
         ExifPlan plan;
         plan.orientation = 6;
         return WithExif(JpegWithProfile(EncodeJpeg(picture, 95).value(), profile), plan);
     }},
    {"PNG iCCP", ImageFormat::Png,
     [](const QImage& picture, const std::vector<std::uint8_t>& profile) {
         return PngWithChunk(EncodePng(picture).value(), "iCCP", IccpData(profile));
     }},
    {"WebP ICCP", ImageFormat::WebP,
     [](const QImage& picture, const std::vector<std::uint8_t>& profile) { return WebPWithProfile(picture, profile); }},
}};

TEST(ColourProfile, EmbeddedProfilesAreShownInSrgb)
{
    for (const Space* space : {&kDisplayP3, &kAdobeRgb})
        for (const Carrier& carrier : kCarriers) {
            SCOPED_TRACE(std::string(space->name) + " in " + carrier.name);
            const std::vector<std::uint8_t> bytes = carrier.make(Swatches(), Profile(*space));
            ASSERT_FALSE(bytes.empty());
            Result<QImage> stored = DecodeStillTagged(carrier.format, bytes);
            ASSERT_TRUE(stored) << stored.error().message;
            EXPECT_EQ(stored.value().colorSpace(), space->qt);
            Result<QImage> shown = DecodeStill(carrier.format, bytes);
            ASSERT_TRUE(shown) << shown.error().message;
            ExpectConverted(*space, stored.value(), shown.value(), 2);
        }
}

TEST(ColourProfile, ThumbnailsAreConverted)
{
    // One flat colour: the thumbnail's pixels all equal the full picture's, whatever the scaling.
    QImage flat(64, 48, QImage::Format_RGB32);
    flat.fill(qRgb(180, 140, 100));
    for (const Carrier& carrier : kCarriers) {
        SCOPED_TRACE(carrier.name);
        const std::vector<std::uint8_t> bytes = carrier.make(flat, Profile(kDisplayP3));
        Result<QImage> stored = DecodeStillTagged(carrier.format, bytes);
        ASSERT_TRUE(stored);
        Result<QImage> thumbnail = DecodeThumbnail(carrier.format, bytes, 16);
        ASSERT_TRUE(thumbnail) << thumbnail.error().message;
        const QImage like(thumbnail.value().size(), QImage::Format_RGB32);
        QImage storedLike = like;
        storedLike.fill(stored.value().pixel(stored.value().width() / 2, stored.value().height() / 2));
        // The reduced JPEG decode rounds a little differently from the full one.
        ExpectConverted(kDisplayP3, storedLike, thumbnail.value(), 3);
    }
}

TEST(ColourProfile, PngGammaAndChromaticitiesAreConverted)
{
    const std::vector<std::uint8_t> p3Primaries =
        FixedPoints({0.3127, 0.3290, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060});
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::vector<std::uint8_t>>> chunks;
        const Space& space;
    };
    const std::vector<Case> cases = {
        {"gAMA 1/1.8 alone", {{"gAMA", FixedPoints({1 / 1.8})}}, kGamma18},
        {"cHRM of P3 with gAMA 1/2.2", {{"gAMA", FixedPoints({0.45455})}, {"cHRM", p3Primaries}}, kDisplayP3},
        {"cHRM of P3 alone", {{"cHRM", p3Primaries}}, kDisplayP3},
    };
    const std::vector<std::uint8_t> plain = EncodePng(Swatches()).value();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = plain;
        for (const auto& [type, data] : c.chunks)
            bytes = PngWithChunk(bytes, type, data);
        Result<QImage> shown = DecodeStill(ImageFormat::Png, bytes);
        ASSERT_TRUE(shown) << shown.error().message;
        ExpectConverted(c.space, Swatches(), shown.value(), 2);
    }
}

// The pictures of a file that declares sRGB, or nothing, or what cannot be read, are the stored
// pixels exactly.
TEST(ColourProfile, PicturesWithoutUsableProfileAreShownAsStored)
{
    const QImage swatches = Swatches();
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(swatches, 95).value();
    const std::vector<std::uint8_t> png = EncodePng(swatches).value();
    std::vector<std::uint8_t> p3 = Profile(kDisplayP3);
    const std::vector<std::uint8_t> cutShort(p3.begin(), p3.begin() + 100);
    std::vector<std::uint8_t> garbage(400, 0x5A);
    struct Case {
        const char* name;
        ImageFormat format;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"JPEG without a profile", ImageFormat::Jpeg, jpeg},
        {"JPEG with an sRGB profile", ImageFormat::Jpeg,
         JpegWithProfile(jpeg, Bytes(QColorSpace(QColorSpace::SRgb).iccProfile()))},
        {"JPEG with a profile cut short", ImageFormat::Jpeg, JpegWithProfile(jpeg, cutShort)},
        {"JPEG with a garbage profile", ImageFormat::Jpeg, JpegWithProfile(jpeg, garbage)},
        {"PNG without colour chunks", ImageFormat::Png, png},
        {"PNG with an sRGB chunk", ImageFormat::Png, PngWithChunk(png, "sRGB", {0})},
        {"PNG with gAMA 1/2.2 alone", ImageFormat::Png, PngWithChunk(png, "gAMA", FixedPoints({0.45455}))},
        {"PNG with a garbage iCCP", ImageFormat::Png, PngWithChunk(png, "iCCP", IccpData(garbage))},
        {"WebP with a garbage ICCP", ImageFormat::WebP, WebPWithProfile(swatches, garbage)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<QImage> stored = DecodeStillTagged(c.format, c.bytes);
        Result<QImage> shown = DecodeStill(c.format, c.bytes);
        ASSERT_TRUE(stored) << stored.error().message;
        ASSERT_TRUE(shown) << shown.error().message;
        EXPECT_TRUE(!shown.value().colorSpace().isValid() ||
                    shown.value().colorSpace() == QColorSpace(QColorSpace::SRgb));
        EXPECT_TRUE(SamePixels(shown.value(), stored.value()));
        if (c.format != ImageFormat::Jpeg) {
            EXPECT_TRUE(SamePixels(shown.value(), swatches));
        }
    }
}

TEST(ColourProfile, UntaggedAndSrgbPicturesAreNotTouched)
{
    for (const QColorSpace& space : {QColorSpace(), QColorSpace(QColorSpace::SRgb)}) {
        QImage picture = Swatches();
        picture.setColorSpace(space);
        const QImage other = picture;  // any write would detach from it
        ShowInSrgb(picture);
        EXPECT_EQ(picture.constBits(), other.constBits());
        EXPECT_TRUE(SamePixels(picture, Swatches()));
    }
}

TEST(ColourProfile, ContainerPicturesAreConvertedInTheirGuardedMemory)
{
    const ContainerPixels secure;
    for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32}) {
        QImage picture = NewPicture(48, 32, format);
        ASSERT_FALSE(picture.isNull());
        const QImage swatches = Swatches();
        for (int y = 0; y < picture.height(); ++y)
            std::memcpy(picture.scanLine(y), swatches.constScanLine(y), 48 * 4);
        picture.setColorSpace(kDisplayP3.qt);
        const uchar* guarded = picture.constBits();
        ShowInSrgb(picture);
        EXPECT_EQ(picture.constBits(), guarded);
        ExpectConverted(kDisplayP3, swatches, picture, 2);
    }
}

// Large pictures go through tables of their own, in bands on several threads: every stored value
// of each channel, and alpha kept as it was.
TEST(ColourProfile, LargePicturesAreConvertedAlike)
{
    QImage stored(2048, 2100, QImage::Format_ARGB32);
    const QImage swatches = Swatches();
    for (int y = 0; y < stored.height(); ++y)
        for (int x = 0; x < stored.width(); ++x) {
            const int v = x % 256;
            const QRgb p = y < 16 ? qRgba(v, v, v, 255) : swatches.pixel(x % 48, y % 32);
            stored.setPixel(x, y, (p & 0x00FFFFFFu) | static_cast<QRgb>(255 - y % 7) << 24);
        }
    for (const Space* space : {&kDisplayP3, &kAdobeRgb}) {
        SCOPED_TRACE(space->name);
        QImage shown = stored.copy();
        shown.setColorSpace(space->qt);
        ShowInSrgb(shown);
        ExpectConverted(*space, stored, shown, 2);
        EXPECT_EQ(shown.format(), QImage::Format_ARGB32);
    }
}

// What is shared is copied into guarded memory first, and the other holder keeps its pixels.
TEST(ColourProfile, SharedPictureIsConvertedInACopy)
{
    const ContainerPixels secure;
    QImage picture = CopyPicture(Swatches());
    picture.setColorSpace(kAdobeRgb.qt);
    const QImage other = picture;
    ShowInSrgb(picture);
    EXPECT_NE(picture.constBits(), other.constBits());
    EXPECT_EQ(other.colorSpace(), kAdobeRgb.qt);
    ExpectConverted(kAdobeRgb, Swatches(), picture, 2);
}

// `webp` with `profile` added in an ICCP chunk.
std::vector<std::uint8_t> WithIccp(const std::vector<std::uint8_t>& webp, const std::vector<std::uint8_t>& profile)
{
    const WebPData source{webp.data(), webp.size()};
    const std::unique_ptr<WebPMux, decltype(&WebPMuxDelete)> mux(WebPMuxCreate(&source, 1), &WebPMuxDelete);
    const WebPData icc{profile.data(), profile.size()};
    WebPData assembled{};
    if (!mux || WebPMuxSetChunk(mux.get(), "ICCP", &icc, 1) != WEBP_MUX_OK ||
        WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
        return {};
    std::vector<std::uint8_t> out(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return out;
}

// The player's stills and every frame of its animations, which bypass DecodeStill.
TEST(ColourProfile, WebPPlayerShowsFramesInSrgb)
{
    const std::array<QRgb, 2> colours = {qRgb(180, 140, 100), qRgb(90, 150, 110)};
    const std::vector<std::uint8_t> animation =
        WithIccp(quillix::test::EncodeAnimatedWebP({{Solid(8, 8, colours[0]), 50}, {Solid(8, 8, colours[1]), 50}}, 1),
                 Profile(kDisplayP3));
    ASSERT_FALSE(animation.empty());
    WebPPlayer player;
    ASSERT_TRUE(player.LoadFromBytes(animation, true));
    ASSERT_TRUE(player.animated());
    ExpectConverted(kDisplayP3, Solid(8, 8, colours[0]), player.frame(), 2);
    player.Tick();
    ExpectConverted(kDisplayP3, Solid(8, 8, colours[1]), player.frame(), 2);

    WebPPlayer still;
    ASSERT_TRUE(still.LoadFromBytes(WebPWithProfile(Swatches(), Profile(kAdobeRgb))));
    ExpectConverted(kAdobeRgb, Swatches(), still.frame(), 2);
}

}  // namespace
