#include "viewer/image_loader.h"

#include "container/container_file.h"
#include "container/file_crypto.h"
#include "crypto/secure.h"
#include "imaging/image_file.h"
#include "imaging/image_format.h"
#include "imaging/still_decoder.h"
#include "imaging/webp_player.h"

#include <algorithm>
#include <cctype>

namespace quillix::viewer {
namespace {

std::string LowerExtension(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

LoadedPicture GifPicture(imaging::GifAnimation animation, imaging::GifOrigin origin, double playerSpeed)
{
    LoadedPicture picture;
    picture.gifPassLimit = imaging::GifPassLimit(animation.loopCount, origin);
    picture.gifSpeedPercent = imaging::GifSpeedPercent(playerSpeed);
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

Result<LoadedPicture> LoadWebPImage(const std::string& path, container::FileCrypto& crypto, imaging::WebPPlayer& player)
{
    LoadedPicture picture;
    picture.webp = true;
    if (!container::IsEncryptedFile(path)) {
        if (!player.LoadFromFile(path))
            return MakeError(ErrorKind::BadHeader, "WEBP decode failed (libwebp*.dll/Loader?)");
        return picture;
    }
    // Without a password the still formats say "Unknwon error"; an encrypted WebP says the same
    // rather than leaving the previous picture under this file's name.
    if (!crypto.EnsurePassword(true)) return MakeError(ErrorKind::WrongPassword, "Unknwon error");
    std::vector<std::uint8_t> plain;
    if (!crypto.DecryptToStream(path, plain))
        return MakeError(ErrorKind::WrongPassword, "Decrypt failed (wrong password or file corrupt).");
    // The player decodes from memory and keeps its own copy for the passes of an animation.
    const bool shown = player.LoadFromBytes(plain);
    crypto::SecureWipe(plain.data(), plain.size());
    if (!shown) return MakeError(ErrorKind::BadHeader, "WEBP decode failed");
    return picture;
}

Result<LoadedPicture> LoadEncrypted(const std::string& path, const std::string& ext, container::FileCrypto& crypto,
                                    double playerSpeed)
{
    if (!crypto.EnsurePassword(true)) return MakeError(ErrorKind::WrongPassword, "Unknwon error");
    std::vector<std::uint8_t> plain;
    if (!crypto.DecryptToStream(path, plain))
        return MakeError(ErrorKind::WrongPassword, "Decrypt failed (file error).");

    Result<LoadedPicture> result = MakeError(ErrorKind::Unsupported, "Encrypted format not supported.");
    if (ext == ".gif") {
        Result<imaging::GifAnimation> gif = imaging::DecodeGif(plain);
        if (gif)
            result = GifPicture(std::move(gif.value()), imaging::GifOrigin::Encrypted, playerSpeed);
        else
            result = gif.error();
    } else {
        imaging::ImageFormat format = imaging::ImageFormat::Unknown;
        if (ext == ".jpg" || ext == ".jpeg") format = imaging::ImageFormat::Jpeg;
        if (ext == ".png") format = imaging::ImageFormat::Png;
        if (ext == ".bmp") format = imaging::ImageFormat::Bmp;
        if (format != imaging::ImageFormat::Unknown) {
            result = StillPicture(imaging::DecodeStill(format, plain));
        }
    }
    crypto::SecureWipe(plain.data(), plain.size());
    return result;
}

}  // namespace

Result<LoadedPicture> LoadPicture(const std::string& path, container::FileCrypto& crypto, imaging::WebPPlayer& player)
{
    const std::string ext = LowerExtension(path);
    const double playerSpeed = player.Speed();

    // A plain GIF always loops; a failure here (an encrypted GIF, say) goes on below unreported.
    if (ext == ".gif") {
        Result<imaging::GifAnimation> gif = imaging::DecodeGif(path);
        if (gif && !gif.value().frames.empty())
            return GifPicture(std::move(gif.value()), imaging::GifOrigin::Plain, playerSpeed);
    }
    if (ext == ".webp") return LoadWebPImage(path, crypto, player);

    Result<LoadedPicture> result = container::IsEncryptedFile(path) ? LoadEncrypted(path, ext, crypto, playerSpeed)
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
