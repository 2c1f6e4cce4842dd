#include "imaging/bmp_codec.h"
#include "imaging/bmp_transform.h"
#include "imaging/orientation_fixtures.h"
#include "imaging/png_codec.h"
#include "imaging/rotation.h"
#include "imaging/webp_transform.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <png.h>
#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

namespace quillix::imaging {
namespace {

using test::Turned;

// The file at `name` turned by RotateImageFile90, which must succeed.
std::vector<std::uint8_t> TurnFile(const std::string& name, const std::vector<std::uint8_t>& bytes, int direction)
{
    test::TempDir dir;
    test::WriteFile(dir / name, bytes);
    EXPECT_TRUE(RotateImageFile90(dir / name, direction).ok());
    return test::ReadFile(dir / name);
}

QPoint TurnedPoint(int x, int y, int width, int height, int direction)
{
    return direction > 0 ? QPoint(height - 1 - y, x) : QPoint(y, width - 1 - x);
}

// ---- PNG ----

// Every stored sample of a PNG, read with libpng apart from the code under test.
struct PngSamples {
    int width = 0, height = 0, depth = 0, colorType = 0, interlace = 0, channels = 0;
    std::vector<unsigned> values;
    unsigned At(int x, int y, int c) const { return values[static_cast<std::size_t>((y * width + x) * channels + c)]; }
};

PngSamples ReadSamples(const std::vector<std::uint8_t>& bytes)
{
    struct Source {
        const std::vector<std::uint8_t>* bytes;
        std::size_t at = 8;
        static void Read(png_structp png, png_bytep out, png_size_t n)
        {
            auto* s = static_cast<Source*>(png_get_io_ptr(png));
            std::memcpy(out, s->bytes->data() + s->at, n);
            s->at += n;
        }
    } source{&bytes};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &source, &Source::Read);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    PngSamples s;
    s.width = static_cast<int>(png_get_image_width(png, info));
    s.height = static_cast<int>(png_get_image_height(png, info));
    s.depth = png_get_bit_depth(png, info);
    s.colorType = png_get_color_type(png, info);
    s.interlace = png_get_interlace_type(png, info);
    s.channels = png_get_channels(png, info);
    if (s.depth < 8) png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<std::uint8_t> pixels(rowBytes * static_cast<std::size_t>(s.height));
    std::vector<png_bytep> rows;
    for (int y = 0; y < s.height; ++y)
        rows.push_back(pixels.data() + rowBytes * static_cast<std::size_t>(y));
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    for (std::size_t i = 0; i < pixels.size(); i += s.depth == 16 ? 2 : 1)
        s.values.push_back(s.depth == 16 ? unsigned(pixels[i] << 8 | pixels[i + 1]) : pixels[i]);
    return s;
}

struct PngChunk {
    std::string type;
    std::vector<std::uint8_t> data;
    bool operator==(const PngChunk&) const = default;
};

std::vector<PngChunk> Chunks(const std::vector<std::uint8_t>& png)
{
    std::vector<PngChunk> chunks;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length =
            std::size_t(png[at]) << 24 | std::size_t(png[at + 1]) << 16 | std::size_t(png[at + 2]) << 8 | png[at + 3];
        chunks.push_back({std::string(png.begin() + static_cast<long>(at + 4), png.begin() + static_cast<long>(at + 8)),
                          {png.begin() + static_cast<long>(at + 8), png.begin() + static_cast<long>(at + 8 + length)}});
        at += 12 + length;
    }
    return chunks;
}

std::map<std::string, std::vector<std::uint8_t>> ChunkMap(const std::vector<std::uint8_t>& png, const char* type)
{
    std::map<std::string, std::vector<std::uint8_t>> found;
    for (const PngChunk& c : Chunks(png))
        if (c.type == type) found[c.type] = c.data;
    return found;
}

// `png` with a chunk of `type` and `data` put in after the first chunk called `after`.
std::vector<std::uint8_t> WithChunk(const std::vector<std::uint8_t>& png, const char* after, const std::string& type,
                                    const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> chunk;
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.push_back(static_cast<std::uint8_t>(data.size() >> shift));
    chunk.insert(chunk.end(), type.begin(), type.end());
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(4 + data.size()));
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.push_back(static_cast<std::uint8_t>(crc >> shift));
    std::size_t at = 8;
    for (const PngChunk& c : Chunks(png)) {
        at += 12 + c.data.size();
        if (c.type == after) break;
    }
    std::vector<std::uint8_t> out(png.begin(), png.begin() + static_cast<long>(at));
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + static_cast<long>(at), png.end());
    return out;
}

TEST(TurnPng, SamplesMoveAsTheyAreStored)
{
    const auto wave = [](int bits) {
        return [bits](int x, int y, int c) { return ((x * 7 + y * 13 + c * 29) * 2654435761u >> 7) % (1u << bits); };
    };
    std::vector<png_color> palette16;
    for (int i = 0; i < 16; ++i)
        palette16.push_back({static_cast<png_byte>(i * 16), static_cast<png_byte>(255 - i * 16), 77});
    struct Case {
        const char* what;
        test::PngPlan plan;
    };
    const std::vector<Case> cases = {
        {"RGBA 8", {7, 5, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, wave(8), {}, {}, {}}},
        {"RGBA 16", {6, 4, PNG_COLOR_TYPE_RGB_ALPHA, 16, false, wave(16), {}, {}, {}}},
        {"grey and alpha 16", {5, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, wave(16), {}, {}, {}}},
        {"grey 1 bit", {13, 5, PNG_COLOR_TYPE_GRAY, 1, false, wave(1), {}, {}, {}}},
        {"grey 2 bits with a transparent level",
         {9, 4, PNG_COLOR_TYPE_GRAY, 2, false, wave(2), {}, {}, png_color_16{0, 0, 0, 0, 2}}},
        {"grey 16 with a transparent level",
         {4, 6, PNG_COLOR_TYPE_GRAY, 16, false, wave(16), {}, {}, png_color_16{0, 0, 0, 0, 4660}}},
        {"palette 4 bits with alpha",
         {11, 7, PNG_COLOR_TYPE_PALETTE, 4, false, wave(4), palette16, {0, 128, 255, 9}, {}}},
        {"RGB 8 interlaced", {10, 9, PNG_COLOR_TYPE_RGB, 8, true, wave(8), {}, {}, {}}},
        {"palette 4 bits interlaced", {9, 10, PNG_COLOR_TYPE_PALETTE, 4, true, wave(4), palette16, {}, {}}},
    };
    for (const Case& c : cases)
        for (const int direction : {1, -1}) {
            SCOPED_TRACE(testing::Message() << c.what << " direction " << direction);
            const std::vector<std::uint8_t> original = test::PngFixture(c.plan);
            const std::vector<std::uint8_t> turned = TurnFile("p.png", original, direction);
            const PngSamples before = ReadSamples(original), after = ReadSamples(turned);
            ASSERT_EQ(after.width, before.height);
            ASSERT_EQ(after.height, before.width);
            EXPECT_EQ(after.depth, before.depth);
            EXPECT_EQ(after.colorType, before.colorType);
            EXPECT_EQ(after.interlace, before.interlace);
            for (int y = 0; y < before.height; ++y)
                for (int x = 0; x < before.width; ++x) {
                    const QPoint to = TurnedPoint(x, y, before.width, before.height, direction);
                    for (int ch = 0; ch < before.channels; ++ch)
                        ASSERT_EQ(after.At(to.x(), to.y(), ch), before.At(x, y, ch)) << x << "," << y << "/" << ch;
                }
            EXPECT_EQ(ChunkMap(turned, "PLTE"), ChunkMap(original, "PLTE"));
            EXPECT_EQ(ChunkMap(turned, "tRNS"), ChunkMap(original, "tRNS"));
        }
}

TEST(TurnPng, ChunksStayInPlaceAndAnimationsAreRefused)
{
    test::PngPlan plan{5,  3, PNG_COLOR_TYPE_RGB, 8, false, [](int x, int y, int c) { return x * 40 + y * 7 + c; }, {},
                       {}, {}};
    const std::vector<std::uint8_t> text = {'T', 'i', 't', 'l', 'e', 0, 'Q', 'u', 'a', 'y'};
    const std::vector<std::uint8_t> physical = {0, 0, 0x0B, 0x13, 0, 0, 0x03, 0xE8, 1};  // 2835 × 1000 per metre
    std::vector<std::uint8_t> png = test::PngFixture(plan);
    png = WithChunk(png, "IDAT", "tEXt", {'N', 'o', 't', 'e', 0, 'a', 'f', 't', 'e', 'r'});
    png = WithChunk(png, "IHDR", "quIX", {1, 2, 3});  // private, unsafe to copy: bound to the old pixels
    png = WithChunk(png, "IHDR", "quIx", {4, 5, 6});  // private, safe to copy
    png = WithChunk(png, "IHDR", "tEXt", text);
    png = WithChunk(png, "IHDR", "pHYs", physical);
    png.insert(png.end(), {'t', 'a', 'i', 'l'});

    const std::vector<std::uint8_t> turned = TurnFile("c.png", png, 1);
    std::vector<std::string> types;
    for (const PngChunk& c : Chunks(turned))
        if (c.type != "IDAT") types.push_back(c.type);
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "pHYs", "tEXt", "quIx", "tEXt", "IEND"}));
    EXPECT_EQ(Chunks(turned)[1].data, (std::vector<std::uint8_t>{0, 0, 0x03, 0xE8, 0, 0, 0x0B, 0x13, 1}))
        << "the resolution turns with the picture";
    EXPECT_EQ(Chunks(turned)[2].data, text);
    EXPECT_EQ(std::vector<std::uint8_t>(turned.end() - 4, turned.end()),
              (std::vector<std::uint8_t>{'t', 'a', 'i', 'l'}));
    EXPECT_TRUE(DecodePng(turned).ok()) << "every CRC right";

    test::TempDir dir;
    const std::vector<std::uint8_t> animated =
        WithChunk(test::PngFixture(plan), "IHDR", "acTL", {0, 0, 0, 2, 0, 0, 0, 0});
    test::WriteFile(dir / "a.png", animated);
    EXPECT_EQ(RotateImageFile90(dir / "a.png", 1).kind, RotationOutcome::Kind::Failed);
    EXPECT_EQ(test::ReadFile(dir / "a.png"), animated) << "its frames would not turn along";
}

// ---- BMP ----

// A bitmap with an info header of `headerSize` bytes: 12 (OS/2 core), 40 with three masks after
// it, or 124 (V5) with masks inside and a colour profile stored after the pixels.
std::vector<std::uint8_t> HeaderBmp(int headerSize, int bits, int width, int height, std::vector<std::uint32_t> masks,
                                    const std::function<std::uint32_t(int x, int y)>& pixel)
{
    const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    const std::size_t maskBytes = headerSize == 40 ? 4 * masks.size() : 0;
    const std::size_t pixelsAt = 14 + static_cast<std::size_t>(headerSize) + maskBytes;
    const std::string profile = "a colour profile";
    std::vector<std::uint8_t> b(pixelsAt + stride * static_cast<std::size_t>(height));
    const auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put(10, static_cast<std::uint32_t>(pixelsAt), 4);
    put(14, static_cast<std::uint32_t>(headerSize), 4);
    if (headerSize == 12) {
        put(18, static_cast<std::uint32_t>(width), 2);
        put(20, static_cast<std::uint32_t>(height), 2);
        put(22, 1, 2);
        put(24, static_cast<std::uint32_t>(bits), 2);
    } else {
        put(18, static_cast<std::uint32_t>(width), 4);
        put(22, static_cast<std::uint32_t>(height), 4);
        put(26, 1, 2);
        put(28, static_cast<std::uint32_t>(bits), 2);
        put(30, masks.empty() ? 0 : 3, 4);
        put(34, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height)), 4);
        put(38, 2835, 4);
        put(42, 1000, 4);
        for (std::size_t i = 0; i < masks.size(); ++i)
            put(54 + 4 * i, masks[i], 4);
    }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            put(pixelsAt + stride * static_cast<std::size_t>(height - 1 - y) + static_cast<std::size_t>(x * bits / 8),
                pixel(x, y), bits / 8);
    if (headerSize == 124) {
        put(14 + 56, 0x4D424544, 4);  // 'MBED'
        put(14 + 112, static_cast<std::uint32_t>(b.size() - 14), 4);
        put(14 + 116, static_cast<std::uint32_t>(profile.size()), 4);
        b.insert(b.end(), profile.begin(), profile.end());
    }
    put(2, static_cast<std::uint32_t>(b.size()), 4);
    return b;
}

TEST(TurnBmp, PixelsMoveInTheFilesOwnLayout)
{
    const auto rgb = [](int x, int y) { return qRgb(x * 30 + 5, y * 40 + 9, (x ^ y) * 17); };
    const auto index = [](int bits) { return [bits](int x, int y) { return (x * 3 + y * 5) % (1 << bits); }; };
    const auto palette = [](int count) {
        std::vector<QRgb> p;
        for (int i = 0; i < count; ++i)
            p.push_back(qRgb(i * 255 / std::max(1, count - 1), 40, 255 - i * 255 / std::max(1, count - 1)));
        return p;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bmp;
    };
    const std::vector<Case> cases = {
        {"1 bit", test::BmpFixture({13, 5, 1, false, palette(2), index(1), {}})},
        {"4 bits top-down", test::BmpFixture({7, 6, 4, true, palette(16), index(4), {}})},
        {"8 bits", test::BmpFixture({9, 4, 8, false, palette(256), index(8), {}})},
        {"24 bits top-down", test::BmpFixture({5, 3, 24, true, {}, {}, rgb})},
        {"32 bits", test::BmpFixture({6, 5, 32, false, {}, {}, rgb})},
        {"32 bits with alpha, V5 header and a profile",
         HeaderBmp(124, 32, 5, 3, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
                   [](int x, int y) { return qRgba(x * 50, y * 80, 7, x * 60 + y); })},
        {"16 bits 5-6-5", HeaderBmp(40, 16, 7, 3, {0xF800, 0x07E0, 0x001F},
                                    [](int x, int y) { return static_cast<std::uint32_t>(x * 4099 + y * 257); })},
        {"OS/2 core header", HeaderBmp(12, 24, 5, 4, {}, [&](int x, int y) { return rgb(x, y) & 0xFFFFFF; })},
    };
    for (const Case& c : cases)
        for (const int direction : {1, -1}) {
            SCOPED_TRACE(testing::Message() << c.what << " direction " << direction);
            const std::vector<std::uint8_t> turned = TurnFile("b.bmp", c.bmp, direction);
            Result<QImage> before = DecodeBmp(c.bmp), after = DecodeBmp(turned);
            ASSERT_TRUE(before.ok() && after.ok());
            EXPECT_EQ(after.value(), Turned(before.value(), direction));
            EXPECT_EQ(after.value().hasAlphaChannel(), before.value().hasAlphaChannel());
            EXPECT_EQ(turned[2] | turned[3] << 8 | turned[4] << 16, static_cast<int>(turned.size()));
            // Back again, the file is the same to the byte: headers, palette, masks and profile.
            const Result<std::vector<std::uint8_t>> back =
                TransformBmp(turned, direction > 0 ? PixelTransform::Rotate270 : PixelTransform::Rotate90);
            ASSERT_TRUE(back.ok());
            EXPECT_EQ(back.value(), c.bmp);
        }
}

TEST(TurnBmp, DamagedFilesAreLeftAlone)
{
    std::vector<std::uint8_t> bmp = test::BmpFixture({5, 3, 24, false, {}, {}, [](int, int) { return 0u; }});
    std::vector<std::uint8_t> shortPixels(bmp.begin(), bmp.end() - 4);
    std::vector<std::uint8_t> jpegInside = bmp;
    jpegInside[30] = 4;
    std::vector<std::uint8_t> badOffset = bmp;
    badOffset[10] = 0xFF;
    badOffset[11] = 0xFF;
    for (const auto& broken : {shortPixels, jpegInside, badOffset, std::vector<std::uint8_t>{'B', 'M'}})
        EXPECT_FALSE(TransformBmp(broken, PixelTransform::Rotate90).ok());
}

// ---- WebP ----

std::vector<std::uint8_t> EncodeWebP(const QImage& rgba, bool lossless, float quality)
{
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = lossless;
    config.exact = 1;
    config.quality = quality;
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.width = rgba.width();
    picture.height = rgba.height();
    picture.use_argb = 1;
    const QImage bytes = rgba.convertToFormat(QImage::Format_RGBA8888);
    WebPPictureImportRGBA(&picture, bytes.constBits(), static_cast<int>(bytes.bytesPerLine()));
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    EXPECT_TRUE(WebPEncode(&config, &picture));
    std::vector<std::uint8_t> out(writer.mem, writer.mem + writer.size);
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return out;
}

QImage DecodeRgba(const std::vector<std::uint8_t>& webp)
{
    int w = 0, h = 0;
    std::uint8_t* rgba = WebPDecodeRGBA(webp.data(), webp.size(), &w, &h);
    QImage image = QImage(rgba, w, h, QImage::Format_RGBA8888).copy();
    WebPFree(rgba);
    return image;
}

WebPBitstreamFeatures Features(const std::vector<std::uint8_t>& webp)
{
    WebPBitstreamFeatures f{};
    EXPECT_EQ(WebPGetFeatures(webp.data(), webp.size(), &f), VP8_STATUS_OK);
    return f;
}

// A photograph-like picture with a transparent hole and a soft alpha edge.
QImage Translucent(int width, int height)
{
    QImage image = test::Shapes(width, height).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb p = image.pixel(x, y);
            const int a = x < width / 4 ? 0 : std::min(255, (x - width / 4) * 12);
            image.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), a));
        }
    return image;
}

TEST(TurnWebP, LosslessStaysLosslessAndAlphaStays)
{
    const QImage source = test::Noise(9, 6);  // every channel at random, RGB under alpha 0 included
    const std::vector<std::uint8_t> original = EncodeWebP(source, true, 75);
    ASSERT_EQ(Features(original).format, 2);
    for (const int direction : {1, -1}) {
        const std::vector<std::uint8_t> turned = TurnFile("l.webp", original, direction);
        EXPECT_EQ(Features(turned).format, 2) << "still VP8L";
        EXPECT_TRUE(Features(turned).has_alpha);
        EXPECT_EQ(DecodeRgba(turned), Turned(DecodeRgba(original), direction)) << "every byte of every pixel";
    }
}

TEST(TurnWebP, LossyKeepsItsAlphaQualityAndMetadata)
{
    const QImage source = Translucent(96, 64);
    std::vector<std::uint8_t> lossy = EncodeWebP(source, false, 60);
    // Metadata chunks as a camera or an editor adds them.
    {
        const WebPData image{lossy.data(), lossy.size()};
        WebPMux* mux = WebPMuxCreate(&image, 1);
        const std::string icc = "icc profile bytes", exif = "Exif\0\0MM fake", xmp = "<x:xmpmeta/>";
        const WebPData iccData{reinterpret_cast<const std::uint8_t*>(icc.data()), icc.size()};
        const WebPData exifData{reinterpret_cast<const std::uint8_t*>(exif.data()), exif.size()};
        const WebPData xmpData{reinterpret_cast<const std::uint8_t*>(xmp.data()), xmp.size()};
        WebPMuxSetChunk(mux, "ICCP", &iccData, 1);
        WebPMuxSetChunk(mux, "EXIF", &exifData, 1);
        WebPMuxSetChunk(mux, "XMP ", &xmpData, 1);
        WebPData assembled{};
        ASSERT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
        lossy.assign(assembled.bytes, assembled.bytes + assembled.size);
        WebPDataClear(&assembled);
        WebPMuxDelete(mux);
    }
    const std::vector<std::uint8_t> turned = TurnFile("y.webp", lossy, 1);
    EXPECT_EQ(Features(turned).format, 1) << "lossy stays lossy";
    ASSERT_TRUE(Features(turned).has_alpha);
    const QImage before = Turned(DecodeRgba(lossy), 1), after = DecodeRgba(turned);
    ASSERT_EQ(after.size(), QSize(64, 96));
    double error = 0;
    int visible = 0;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x) {
            const QRgb a = after.pixel(x, y), b = before.pixel(x, y);
            ASSERT_EQ(qAlpha(a), qAlpha(b)) << "alpha is stored losslessly";
            if (qAlpha(b) == 0) continue;  // colour under full transparency is the encoder's to choose
            error += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            ++visible;
        }
    EXPECT_LT(error / (3.0 * visible), 3.0);
    EXPECT_NEAR(EstimateWebPQuality(turned).value(), EstimateWebPQuality(lossy).value(), 4);

    const auto chunk = [](const std::vector<std::uint8_t>& webp, const char* id) {
        const WebPData data{webp.data(), webp.size()};
        const std::unique_ptr<WebPMux, void (*)(WebPMux*)> mux(WebPMuxCreate(&data, 0), WebPMuxDelete);
        WebPData found{};
        if (WebPMuxGetChunk(mux.get(), id, &found) != WEBP_MUX_OK) return std::string();
        return std::string(reinterpret_cast<const char*>(found.bytes), found.size);
    };
    for (const char* id : {"ICCP", "EXIF", "XMP "}) {
        EXPECT_FALSE(chunk(turned, id).empty()) << id;
        EXPECT_EQ(chunk(turned, id), chunk(lossy, id)) << id;
    }
}

TEST(TurnWebP, TheQualityEstimateIsCloseToTheEncodersOwn)
{
    const QImage photo = test::Shapes(160, 120).convertToFormat(QImage::Format_ARGB32);
    for (const int quality : {5, 20, 40, 60, 75, 90, 100}) {
        const std::optional<int> estimate = EstimateWebPQuality(EncodeWebP(photo, false, static_cast<float>(quality)));
        ASSERT_TRUE(estimate.has_value());
        EXPECT_NEAR(*estimate, quality, 4) << quality;
    }
    EXPECT_FALSE(EstimateWebPQuality(EncodeWebP(photo, true, 75)).has_value()) << "lossless has no quantiser";
    EXPECT_FALSE(EstimateWebPQuality(std::vector<std::uint8_t>{'R', 'I', 'F', 'F'}).has_value());
}

}  // namespace
}  // namespace quillix::imaging
