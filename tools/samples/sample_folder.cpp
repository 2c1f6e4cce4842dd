#include "samples/sample_folder.h"

#include "common/dialogs.h"
#include "common/temp_file.h"
#include "container/file_crypto.h"
#include "imaging/animation_encoder.h"
#include "imaging/bmp_codec.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "imaging/rotation.h"
#include "samples/sample_pictures.h"
#include "settings/app_options.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

namespace quillix::samples {
namespace {

enum class Kind { Jpeg, Png, Gif, AnimatedGif, Bmp, WebP, LosslessWebP, AnimatedWebP };

struct Sample {
    Kind kind;
    Scene scene;  // unused by the animated kinds, which have their own
    int width, height;
    bool encrypt;
};

// Numbered 01 to 60 in this order; the number is in the file name and on the picture.
constexpr Sample kSamples[] = {
    {Kind::Jpeg, Scene::Sunset, 4000, 3000, false},
    {Kind::Jpeg, Scene::Bokeh, 1000, 4000, false},
    {Kind::Jpeg, Scene::Tiles, 10, 10, false},
    {Kind::Jpeg, Scene::Waves, 1920, 1080, false},
    {Kind::Jpeg, Scene::Rings, 1600, 1200, false},
    {Kind::Jpeg, Scene::Sunset, 1280, 720, false},
    {Kind::Jpeg, Scene::Bokeh, 800, 600, true},
    {Kind::Jpeg, Scene::Waves, 1024, 768, false},
    {Kind::Jpeg, Scene::Tiles, 640, 480, false},
    {Kind::Jpeg, Scene::Rings, 600, 800, false},
    {Kind::Jpeg, Scene::Sunset, 3000, 2000, false},
    {Kind::Jpeg, Scene::Waves, 512, 512, false},

    {Kind::Png, Scene::Bubbles, 800, 600, false},
    {Kind::Png, Scene::Tiles, 1024, 768, true},
    {Kind::Png, Scene::Rings, 640, 480, false},
    {Kind::Png, Scene::Waves, 512, 512, false},
    {Kind::Png, Scene::Sunset, 300, 200, false},
    {Kind::Png, Scene::Bokeh, 1280, 960, false},
    {Kind::Png, Scene::Bubbles, 256, 256, false},
    {Kind::Png, Scene::Tiles, 720, 1280, false},
    {Kind::Png, Scene::Rings, 96, 96, false},
    {Kind::Png, Scene::Sunset, 2000, 1500, false},
    {Kind::Png, Scene::Bubbles, 400, 400, false},
    {Kind::Png, Scene::Bokeh, 1440, 900, false},

    {Kind::AnimatedGif, Scene::Sunset, 320, 240, true},
    {Kind::Gif, Scene::Tiles, 640, 480, false},
    {Kind::Gif, Scene::Rings, 400, 300, false},
    {Kind::Gif, Scene::Waves, 500, 500, false},
    {Kind::Gif, Scene::Sunset, 800, 600, false},
    {Kind::Gif, Scene::Bokeh, 300, 400, false},
    {Kind::Gif, Scene::Tiles, 256, 256, false},
    {Kind::Gif, Scene::Rings, 48, 48, false},
    {Kind::Gif, Scene::Sunset, 720, 480, false},
    {Kind::Gif, Scene::Waves, 600, 338, false},
    {Kind::Gif, Scene::Bokeh, 1024, 768, false},
    {Kind::Gif, Scene::Tiles, 200, 200, false},

    {Kind::Bmp, Scene::Sunset, 640, 480, false},
    {Kind::Bmp, Scene::Waves, 800, 600, false},
    {Kind::Bmp, Scene::Tiles, 320, 240, true},
    {Kind::Bmp, Scene::Bokeh, 1024, 768, false},
    {Kind::Bmp, Scene::Rings, 480, 640, false},
    {Kind::Bmp, Scene::Sunset, 256, 256, false},
    {Kind::Bmp, Scene::Waves, 1280, 720, false},
    {Kind::Bmp, Scene::Tiles, 16, 16, false},
    {Kind::Bmp, Scene::Rings, 500, 300, false},
    {Kind::Bmp, Scene::Bokeh, 600, 600, false},
    {Kind::Bmp, Scene::Sunset, 1920, 1080, false},
    {Kind::Bmp, Scene::Waves, 400, 300, false},

    {Kind::AnimatedWebP, Scene::Sunset, 400, 300, false},
    {Kind::LosslessWebP, Scene::Bubbles, 512, 512, false},
    {Kind::WebP, Scene::Sunset, 1600, 1200, false},
    {Kind::WebP, Scene::Bokeh, 1280, 720, false},
    {Kind::WebP, Scene::Waves, 800, 600, true},
    {Kind::WebP, Scene::Tiles, 2400, 1600, false},
    {Kind::WebP, Scene::Rings, 640, 480, false},
    {Kind::WebP, Scene::Sunset, 720, 1280, false},
    {Kind::WebP, Scene::Bokeh, 300, 300, false},
    {Kind::WebP, Scene::Waves, 1024, 1024, false},
    {Kind::WebP, Scene::Tiles, 960, 540, false},
    {Kind::WebP, Scene::Rings, 64, 64, false},
};

constexpr int kGifFrames = 36, kGifDelayCs = 6;
constexpr int kWebPFrames = 48, kWebPFrameMs = 60;

const char* Extension(Kind kind)
{
    switch (kind) {
    case Kind::Jpeg: return ".jpg";
    case Kind::Png: return ".png";
    case Kind::Gif:
    case Kind::AnimatedGif: return ".gif";
    case Kind::Bmp: return ".bmp";
    case Kind::WebP:
    case Kind::LosslessWebP:
    case Kind::AnimatedWebP: return ".webp";
    }
    return "";
}

std::string Subject(const Sample& sample)
{
    if (sample.kind == Kind::AnimatedGif) return "bouncing-ball";
    if (sample.kind == Kind::AnimatedWebP) return "orbits";
    switch (sample.scene) {
    case Scene::Sunset: return "sunset";
    case Scene::Bokeh: return "lights";
    case Scene::Waves: return "waves";
    case Scene::Tiles: return "tiles";
    case Scene::Rings: return "rings";
    case Scene::Bubbles: return "bubbles";
    }
    return "picture";
}

std::string FileName(const Sample& sample, int number)
{
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%02d-", number);
    return prefix + Subject(sample) + Extension(sample.kind);
}

Result<std::vector<std::uint8_t>> Encode(const Sample& s, int number)
{
    switch (s.kind) {
    case Kind::Jpeg: return imaging::EncodeJpeg(PaintScene(s.scene, s.width, s.height, number), 88);
    case Kind::Png: return imaging::EncodePng(PaintScene(s.scene, s.width, s.height, number));
    case Kind::Bmp: return imaging::EncodeBmp(PaintScene(s.scene, s.width, s.height, number));
    case Kind::LosslessWebP: return imaging::EncodeStillWebP(PaintScene(s.scene, s.width, s.height, number));
    case Kind::Gif: {
        imaging::GifEncodeFrame frame;
        frame.width = s.width;
        frame.height = s.height;
        frame.indices = DitherToGifPalette(PaintScene(s.scene, s.width, s.height, number));
        frame.control = false;
        return imaging::EncodeGif({s.width, s.height, GifPalette(), std::nullopt, {std::move(frame)}});
    }
    case Kind::AnimatedGif: {
        imaging::GifEncodeInput gif{s.width, s.height, GifPalette(), 0, {}};
        for (const QImage& picture : BouncingBallFrames(s.width, s.height, kGifFrames, number)) {
            imaging::GifEncodeFrame frame;
            frame.width = s.width;
            frame.height = s.height;
            frame.indices = DitherToGifPalette(picture);
            frame.delayCs = kGifDelayCs;
            gif.frames.push_back(std::move(frame));
        }
        return imaging::EncodeGif(gif);
    }
    case Kind::AnimatedWebP: {
        std::vector<imaging::WebPAnimationFrame> frames;
        for (QImage& picture : OrbitFrames(s.width, s.height, kWebPFrames, number))
            frames.push_back({std::move(picture), kWebPFrameMs});
        imaging::WebPAnimationOptions options;
        options.lossless = false;
        options.quality = 85;
        return imaging::EncodeAnimatedWebP(frames, options);
    }
    case Kind::WebP: break;  // written by SaveBitmapToWebP, which encodes and writes in one
    }
    return MakeError(ErrorKind::Unsupported, "no encoder for this kind of sample");
}

Result<void> WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    Result<TempFile> temp = TempFile::CreateFor(path, 0644);
    if (!temp) return temp.error();
    if (!WriteAll(temp.value().fd(), bytes)) return ErrnoError("cannot write " + path);
    return temp.value().CommitAs(path);
}

Result<void> WritePlainSample(const Sample& sample, int number, const std::string& path)
{
    if (sample.kind == Kind::WebP) {
        if (!imaging::SaveBitmapToWebP(path, PaintScene(sample.scene, sample.width, sample.height, number), 85))
            return MakeError(ErrorKind::Io, "cannot write " + path);
        return {};
    }
    Result<std::vector<std::uint8_t>> bytes = Encode(sample, number);
    if (!bytes) return MakeError(bytes.error().kind, path + ": " + bytes.error().message);
    return WriteBytes(path, bytes.value());
}

// FileCrypto's dialogs, answered without a window: the sample password (in every field, as a
// fixed text cannot be mistyped), and any message kept so that a failed secure delete fails the
// run instead of leaving a plain copy unnoticed.
class SampleDialogs : public Dialogs {
public:
    std::string message;

    std::optional<TypedPassword> AskPassword(PasswordPrompt, const std::string&) override
    {
        return TypedPassword{kSamplePassword, kSamplePassword};
    }
    MessageAnswer ShowMessage(const std::string& caption, const std::string& text, MessageIcon, MessageButtons) override
    {
        message = caption + ": " + text;
        return MessageAnswer::Ok;
    }
    std::optional<std::string> InputText(const std::string&, const std::string&, const std::string&) override
    {
        return std::nullopt;
    }
    std::optional<std::string> SelectSubfolder(const std::string&) override { return std::nullopt; }
};

}  // namespace

container::FileOptions SampleEncryptionOptions()
{
    // The options as the program reads them from a settings file that does not exist yet.
    const settings::SettingsStore none;
    settings::AppOptions defaults;
    settings::ReadSecurityAndMouseOptions(defaults, none);
    container::FileOptions options = settings::FileOptionsOf(defaults);
    options.MaxKiB = 0;
    return options;
}

Result<std::vector<SampleFile>> WriteSampleFolder(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return MakeError(ErrorKind::Io, "cannot create the folder " + folder + ": " + ec.message());
    if (!std::filesystem::is_directory(folder, ec)) return MakeError(ErrorKind::Io, folder + " is not a folder");

    SampleDialogs dialogs;
    container::FileCrypto::Hooks hooks;
    hooks.options = SampleEncryptionOptions;
    container::FileCrypto crypto(dialogs, std::move(hooks));
    std::vector<SampleFile> written;
    int number = 0;
    for (const Sample& sample : kSamples) {
        const std::string name = FileName(sample, ++number);
        const std::string path = folder + "/" + name;
        const std::string container = folder + "/$" + name;
        if (Result<void> plain = WritePlainSample(sample, number, path); !plain) return plain.error();
        const bool animated = sample.kind == Kind::AnimatedGif || sample.kind == Kind::AnimatedWebP;
        // An earlier run's container of this sample would show twice, or, since encryption never
        // replaces a container, keep an older version of the sample.
        std::filesystem::remove(container, ec);
        if (ec) return MakeError(ErrorKind::Io, "cannot remove " + container + ": " + ec.message());
        if (!sample.encrypt) {
            written.push_back({path, false, animated});
            continue;
        }
        const container::CryptOutcome outcome = crypto.Encrypt(path);
        const std::string& made = outcome.path;
        if (made.empty()) return MakeError(outcome.error.kind, path + ": " + outcome.error.message);
        if (!dialogs.message.empty()) return MakeError(ErrorKind::Io, path + ": " + dialogs.message);
        written.push_back({made, true, animated});
    }
    return written;
}

}  // namespace quillix::samples
