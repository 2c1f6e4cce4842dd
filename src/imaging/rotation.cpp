#include "imaging/rotation.h"

#include "common/temp_file.h"
#include "container/container_file.h"
#include "imaging/bmp_codec.h"
#include "imaging/image_format.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "imaging/still_decoder.h"
#include "imaging/webp_bridge.h"

#include <webp/encode.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace quillix::imaging {
namespace {

std::uint32_t Be32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool ReplaceFile(const std::string& path, std::span<const std::uint8_t> bytes)
{
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
    Result<TempFile> temp = TempFile::CreateFor(path, mode);
    if (!temp) return false;
    if (!WriteAll(temp.value().fd(), bytes)) return false;
    return temp.value().CommitAs(path).ok();
}

// Opaque, with the transparent pixels in `key` and partly transparent ones over white, so the
// key colour marks exactly what was transparent.
QImage Flatten(const QImage& picture, std::optional<QRgb> key)
{
    QImage out = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int a = qAlpha(row[x]);
            if (a == 255) continue;
            if (a == 0 && key) {
                row[x] = *key | 0xFF000000u;
                continue;
            }
            const auto over = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
            row[x] = qRgb(over(qRed(row[x])), over(qGreen(row[x])), over(qBlue(row[x])));
        }
    }
    return out.convertToFormat(QImage::Format_RGB32);
}

QImage KeyOut(const QImage& opaque, QRgb key)
{
    QImage out = opaque.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((row[x] & 0x00FFFFFFu) == (key & 0x00FFFFFFu)) row[x] &= 0x00FFFFFFu;
    }
    return out;
}

// Decodes, turns and re-encodes; false on any failure.
bool RotateStill(const std::string& path, ImageFormat format, int direction)
{
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return false;
    Result<std::vector<std::uint8_t>> encoded = MakeError(ErrorKind::Unsupported, "");
    if (format == ImageFormat::Png) {
        const std::optional<QRgb> key = PngTransparentColour(bytes.value());
        Result<QImage> picture = DecodePng(bytes.value());
        if (!picture) return false;
        const QImage rotated = RotateBitmap90(Flatten(picture.value(), key), direction);
        encoded = EncodePng(key ? KeyOut(rotated, *key) : rotated);
    } else if (format == ImageFormat::WebP) {
        Result<QImage> picture = LoadWebPToBitmap(bytes.value());
        if (!picture) return false;
        return SaveBitmapToWebP(path, RotateBitmap90(picture.value(), direction), 90);
    } else {
        Result<QImage> picture = DecodeStill(format, bytes.value());
        if (!picture) return false;
        const QImage rotated = RotateBitmap90(picture.value(), direction);
        encoded = format == ImageFormat::Jpeg ? EncodeJpeg(rotated, 90) : EncodeBmp(rotated);
    }
    return encoded && !encoded.value().empty() && ReplaceFile(path, encoded.value());
}

}  // namespace

QImage RotateBitmap90(const QImage& source, int direction)
{
    if (source.isNull() || source.width() <= 0 || source.height() <= 0) return {};
    const QImage src = source.convertToFormat(QImage::Format_RGB32);
    const int w = src.width(), h = src.height();
    QImage target(h, w, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (direction >= 0)
                target.setPixel(h - 1 - y, x, row[x] | 0xFF000000u);
            else
                target.setPixel(y, w - 1 - x, row[x] | 0xFF000000u);
        }
    }
    return target;
}

RotationOutcome RotateImageFile90(const std::string& path, int direction)
{
    if (path.empty()) return {};
    if (direction == 0) return {true, {}, {}};
    if (container::IsEncryptedFile(path))
        return {false, "Rotate", "RotateImageFile90: Encrypted files are not rotated.\nPlease decrypt first."};
    const ImageFormat format = FormatFromExtension(path);
    if (format == ImageFormat::Unknown || format == ImageFormat::Gif) return {};
    if (format == ImageFormat::WebP && IsAnimatedFile(path))
        return {false, "Rotate WebP", "Rotation of animated WebP images is not implemented yet."};
    if (!RotateStill(path, format, direction)) return {false, "Rotate", "Error while rotating image file."};
    return {true, {}, {}};
}

bool RotateImageFile90(const std::string& path, int direction, Dialogs& dialogs)
{
    const RotationOutcome outcome = RotateImageFile90(path, direction);
    if (!outcome.message.empty())
        dialogs.ShowMessage(outcome.caption, outcome.message, MessageIcon::Warning, MessageButtons::Ok);
    return outcome.ok;
}

std::optional<QRgb> PngTransparentColour(std::span<const std::uint8_t> png)
{
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) return std::nullopt;
    int colourType = -1, bitDepth = 8;
    std::span<const std::uint8_t> palette;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = Be32(png.data() + at);
        if (length > png.size() - at - 12) return std::nullopt;
        const std::span<const std::uint8_t> data = png.subspan(at + 8, length);
        const char* type = reinterpret_cast<const char*>(png.data() + at + 4);
        if (std::memcmp(type, "IHDR", 4) == 0 && length >= 13) {
            bitDepth = data[8];
            colourType = data[9];
        } else if (std::memcmp(type, "PLTE", 4) == 0) {
            palette = data;
        } else if (std::memcmp(type, "tRNS", 4) == 0) {
            // Samples are 16-bit; for 16-bit pictures the high byte is what 8-bit decoding keeps,
            // for lower depths the low byte holds the value, scaled to 8 bits.
            const auto sample = [&](std::size_t i) {
                const int v = data[i] << 8 | data[i + 1];
                if (bitDepth == 16) return v >> 8;
                return bitDepth >= 8 ? v & 0xFF : (v & ((1 << bitDepth) - 1)) * 255 / ((1 << bitDepth) - 1);
            };
            if (colourType == 0 && length >= 2) return qRgb(sample(0), sample(0), sample(0));
            if (colourType == 2 && length >= 6) return qRgb(sample(0), sample(2), sample(4));
            if (colourType == 3) {
                for (std::size_t i = 0; i < length && 3 * i + 2 < palette.size(); ++i)
                    if (data[i] == 0) return qRgb(palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
            }
            return std::nullopt;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            return std::nullopt;  // tRNS comes before the image data or not at all
        }
        at += 12 + length;
    }
    return std::nullopt;
}

bool EnsureWebPEncoder()
{
    return true;
}

bool SaveBitmapToWebP(const std::string& path, const QImage& picture, int quality)
{
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0) return false;
    // Format_RGB32 is B, G, R, 255 in memory on little-endian machines: what WebPEncodeBGRA reads.
    const QImage bgra = picture.convertToFormat(QImage::Format_RGB32);
    std::uint8_t* output = nullptr;
    const std::size_t size =
        WebPEncodeBGRA(bgra.constBits(), bgra.width(), bgra.height(), static_cast<int>(bgra.bytesPerLine()),
                       static_cast<float>(std::clamp(quality, 0, 100)), &output);
    const std::unique_ptr<std::uint8_t, decltype(&WebPFree)> owned(output, &WebPFree);
    if (size == 0 || !output) return false;
    return ReplaceFile(path, std::span<const std::uint8_t>(output, size));
}

}  // namespace quillix::imaging
