#include "viewer/image_loader.h"

#include "container/container_file.h"
#include "container/file_crypto.h"
#include "crypto/secure.h"
#include "imaging/colour_profile.h"
#include "imaging/image_file.h"
#include "imaging/image_format.h"
#include "imaging/jxl_codec.h"
#include "imaging/secure_picture.h"
#include "imaging/still_decoder.h"
#include "imaging/tiff_codec.h"
#include "imaging/webp_bridge.h"

#include <algorithm>
#include <cctype>

namespace quillix::viewer {
namespace {

// Why a container did not open, for the viewer: a missing or wrong password gets the lock
// screen's text; any other failure `otherwise`.
Error OpenFailure(const Error& error, const char* otherwise)
{
    if (error.kind == ErrorKind::Cancelled) return MakeError(ErrorKind::Cancelled, kLockedNoPassword);
    if (error.kind == ErrorKind::WrongPassword) return MakeError(ErrorKind::WrongPassword, kLockedWrongPassword);
    return MakeError(error.kind, otherwise);
}

std::string LowerExtension(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

LoadedPicture GifPicture(imaging::GifAnimation animation, imaging::GifOrigin origin)
{
    LoadedPicture picture;
    picture.gifOrigin = origin;
    picture.gif = std::move(animation);
    return picture;
}

Result<LoadedPicture> StillPicture(Result<QImage> still)
{
    if (!still) return still.error();
    LoadedPicture picture;
    picture.still = std::move(still.value());
    return picture;
}

Result<LoadedPicture> LoadWebPImage(const std::string& path, const container::FileCrypto& crypto, bool fileNamePW)
{
    LoadedPicture picture;
    picture.webp = true;
    picture.encrypted = container::IsEncryptedFile(path);
    crypto::SecureBytes bytes;
    if (!picture.encrypted) {
        Result<std::vector<std::uint8_t>> read = imaging::ReadImageFile(path);
        if (!read) return MakeError(ErrorKind::Io, WebPFailureText(false));
        // A still plain picture is decoded from what was read; only an animation keeps its bytes.
        if (!imaging::IsAnimatedBytes(read.value())) {
            Result<QImage> still = imaging::LoadWebPToBitmap(read.value());
            if (!still) return MakeError(ErrorKind::BadHeader, WebPFailureText(false));
            imaging::ShowInSrgb(still.value());
            picture.still = std::move(still.value());
            return picture;
        }
        bytes.assign(read.value().begin(), read.value().end());
    } else {
        // Without the password an encrypted WebP shows the lock screen as the still formats do,
        // rather than leaving the previous picture under this file's name.
        Result<crypto::SecureBytes> opened = crypto.OpenContainer(path, fileNamePW);
        if (!opened) return OpenFailure(opened.error(), "Decrypt failed (wrong password or file corrupt).");
        bytes = std::move(opened.value());
    }
    if (imaging::IsAnimatedBytes(bytes)) {
        picture.webpAnimation = std::make_shared<const WebPBytes>(std::move(bytes));
        return picture;
    }
    const imaging::ContainerPixels pixels;
    Result<QImage> still = imaging::LoadWebPToBitmap(bytes);
    if (!still) return MakeError(ErrorKind::BadHeader, WebPFailureText(picture.encrypted));
    imaging::ShowInSrgb(still.value());
    picture.still = std::move(still.value());
    return picture;
}

// Delays below this are kept as they are stored only by JPEG XL's writers; a GIF's rule would
// stretch them to 100 ms.
constexpr int kShortestJxlDelayMs = 20;

// A JPEG XL picture, or its animation played as a GIF's is; an animation too large to hold whole
// shows its first frame.
Result<LoadedPicture> DecodeJxlPicture(std::span<const std::uint8_t> bytes, bool encrypted)
{
    const imaging::ContainerPixels pixels(encrypted);
    const int threads = imaging::JxlViewerThreads();
    if (imaging::IsAnimatedJxl(bytes)) {
        Result<imaging::GifAnimation> animation = imaging::DecodeJxlAnimation(bytes, threads);
        if (animation) {
            for (imaging::GifFrame& frame : animation.value().frames) {
                frame.delayMs = std::max(frame.delayMs, kShortestJxlDelayMs);
                imaging::ShowInSrgb(frame.image);
            }
            LoadedPicture picture = GifPicture(std::move(animation.value()), imaging::GifOrigin::Encrypted);
            picture.playerSpeed = true;
            picture.encrypted = encrypted;
            return picture;
        }
    }
    Result<QImage> still = imaging::DecodeJxl(bytes, threads);
    if (!still) return still.error();
    imaging::ShowInSrgb(still.value());
    LoadedPicture picture;
    picture.still = std::move(still.value());
    picture.encrypted = encrypted;
    return picture;
}

// A JPEG XL picture, or its animation played as a GIF's is; an animation too large to hold whole
// shows its first frame.
Result<LoadedPicture> LoadJxl(const std::string& path, const container::FileCrypto& crypto, bool fileNamePW)
{
    if (!container::IsEncryptedFile(path)) {
        Result<std::vector<std::uint8_t>> read = imaging::ReadImageFile(path);
        if (!read) return read.error();
        return DecodeJxlPicture(read.value(), false);
    }
    Result<crypto::SecureBytes> opened = crypto.OpenContainer(path, fileNamePW);
    if (!opened) return OpenFailure(opened.error(), "Decrypt failed (file error).");
    return DecodeJxlPicture(opened.value(), true);
}

// A TIFF's first page, knowing how many pages the file has.
Result<LoadedPicture> LoadTiff(const std::string& path, const container::FileCrypto& crypto, bool fileNamePW)
{
    const auto decode = [](std::span<const std::uint8_t> bytes) -> Result<LoadedPicture> {
        Result<LoadedPicture> picture = StillPicture(imaging::DecodeStill(imaging::ImageFormat::Tiff, bytes));
        if (picture) picture.value().pages = std::max(1, imaging::TiffPageCount(bytes));
        return picture;
    };
    if (!container::IsEncryptedFile(path)) {
        Result<std::vector<std::uint8_t>> read = imaging::ReadImageFile(path);
        if (!read) return read.error();
        return decode(read.value());
    }
    Result<crypto::SecureBytes> opened = crypto.OpenContainer(path, fileNamePW);
    if (!opened) return OpenFailure(opened.error(), "Decrypt failed (file error).");
    const imaging::ContainerPixels pixels;
    Result<LoadedPicture> picture = decode(opened.value());
    if (picture) picture.value().encrypted = true;
    return picture;
}

Result<LoadedPicture> LoadEncrypted(const std::string& path, const std::string& ext,
                                    const container::FileCrypto& crypto, bool fileNamePW)
{
    Result<crypto::SecureBytes> opened = crypto.OpenContainer(path, fileNamePW);
    if (!opened) return OpenFailure(opened.error(), "Decrypt failed (file error).");
    const crypto::SecureBytes& plain = opened.value();
    const imaging::ContainerPixels pixels;

    Result<LoadedPicture> result = MakeError(ErrorKind::Unsupported, "Encrypted format not supported.");
    if (ext == ".gif") {
        Result<imaging::GifAnimation> gif = imaging::DecodeGif(plain);
        if (gif)
            result = GifPicture(std::move(gif.value()), imaging::GifOrigin::Encrypted);
        else
            result = gif.error();
    } else if (const imaging::ImageFormat format = imaging::FormatFromExtension(path);
               format != imaging::ImageFormat::Unknown) {
        result = StillPicture(imaging::DecodeStill(format, plain));
    }
    if (result) result.value().encrypted = true;
    return result;
}

}  // namespace

const char* WebPFailureText(bool encrypted)
{
    return encrypted ? "WEBP decode failed" : "WEBP decode failed (libwebp*.dll/Loader?)";
}

bool WantsPassword(const Error& error)
{
    return error.kind == ErrorKind::Cancelled || error.kind == ErrorKind::WrongPassword;
}

Result<LoadedPicture> LoadPicture(const std::string& path, const container::FileCrypto& crypto, bool fileNamePW)
{
    const std::string ext = LowerExtension(path);

    // A plain GIF always loops; a failure here (an encrypted GIF, say) goes on below unreported.
    if (ext == ".gif") {
        Result<imaging::GifAnimation> gif = imaging::DecodeGif(path);
        if (gif && !gif.value().frames.empty()) return GifPicture(std::move(gif.value()), imaging::GifOrigin::Plain);
    }
    if (ext == ".webp") return LoadWebPImage(path, crypto, fileNamePW);
    // A failure of these on a plain file goes on to the content fallback below.
    if (ext == ".jxl") {
        Result<LoadedPicture> jxl = LoadJxl(path, crypto, fileNamePW);
        if (jxl || container::IsEncryptedFile(path)) return jxl;
    }
    if (ext == ".tif" || ext == ".tiff") {
        Result<LoadedPicture> tiff = LoadTiff(path, crypto, fileNamePW);
        if (tiff || container::IsEncryptedFile(path)) return tiff;
    }

    Result<LoadedPicture> result = container::IsEncryptedFile(path) ? LoadEncrypted(path, ext, crypto, fileNamePW)
                                                                    : StillPicture(imaging::DecodeStillFile(path));
    if (result) return result;

    // A picture under the wrong extension (a JPEG named x.png) is still shown. On a container
    // this fails too, and the container's own error stands.
    Result<std::vector<std::uint8_t>> bytes = imaging::ReadImageFile(path);
    if (bytes) {
        Result<LoadedPicture> byContent = StillPicture(imaging::LoadImageByContent(bytes.value()));
        if (byContent) return byContent;
    }
    return result;
}

}  // namespace quillix::viewer
