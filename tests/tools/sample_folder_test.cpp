#include "samples/sample_folder.h"

#include "container/container_file.h"
#include "container/file_ops.h"
#include "imaging/gif_codec.h"
#include "imaging/image_format.h"
#include "imaging/still_decoder.h"
#include "imaging/webp_bridge.h"
#include "settings/app_options.h"
#include "support/temp_dir.h"

#include <webp/demux.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

namespace quillix::samples {
namespace {

using imaging::ImageFormat;

// Generating the folder takes seconds, so each test program makes it once.
class SampleFolder : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new test::TempDir;
        folder_ = dir_->path() + "/deep/samples";
        auto written = WriteSampleFolder(folder_);
        ASSERT_TRUE(written.ok()) << written.error().message;
        files_ = new std::vector<SampleFile>(std::move(written).value());
    }
    void SetUp() override { ASSERT_NE(files_, nullptr) << "the sample folder was not written"; }
    static void TearDownTestSuite()
    {
        delete files_;
        delete dir_;
    }

    static std::string Name(const SampleFile& f) { return std::filesystem::path(f.path).filename().string(); }

    // The picture a sample shows: decrypted in memory when it is a container, and the first
    // frame of an animated WebP, which the still decoder refuses.
    static Result<QImage> Picture(const SampleFile& f)
    {
        std::vector<std::uint8_t> bytes = f.encrypted ? Decrypted(f) : test::ReadFile(f.path);
        const ImageFormat format = imaging::FormatFromExtension(f.path);
        if (format == ImageFormat::WebP && imaging::IsAnimatedBytes(bytes)) return imaging::LoadWebPFirstFrame(bytes);
        return imaging::DecodeStill(format, bytes);
    }

    static std::vector<std::uint8_t> Decrypted(const SampleFile& f)
    {
        Result<crypto::SecureBytes> plain =
            container::DecryptContainerFile(f.path, kSamplePassword, SampleEncryptionOptions().FileNamePW);
        EXPECT_TRUE(plain.ok()) << Name(f) << ": " << plain.error().message;
        return plain ? std::vector<std::uint8_t>(plain.value().begin(), plain.value().end())
                     : std::vector<std::uint8_t>{};
    }

    static test::TempDir* dir_;
    static std::string folder_;
    static std::vector<SampleFile>* files_;
};

test::TempDir* SampleFolder::dir_ = nullptr;
std::string SampleFolder::folder_;
std::vector<SampleFile>* SampleFolder::files_ = nullptr;

TEST_F(SampleFolder, HoldsTwelvePicturesOfEachFormatAndNothingElse)
{
    std::map<ImageFormat, int> perFormat;
    std::set<std::string> reported;
    for (const SampleFile& f : *files_) {
        ++perFormat[imaging::FormatFromExtension(f.path)];
        reported.insert(Name(f));
        EXPECT_EQ(Name(f).front() == '$', f.encrypted) << f.path;
    }
    EXPECT_EQ(perFormat, (std::map<ImageFormat, int>{
                             {ImageFormat::Jpeg, 12},
                             {ImageFormat::Png, 12},
                             {ImageFormat::Gif, 12},
                             {ImageFormat::Bmp, 12},
                             {ImageFormat::WebP, 12},
                         }));
    // No temporary file and no plain copy of an encrypted sample is left behind.
    std::set<std::string> onDisk;
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
        onDisk.insert(entry.path().filename().string());
    EXPECT_EQ(onDisk, reported);
}

TEST_F(SampleFolder, EncryptedSamplesOpenWithTheSamplePasswordOnly)
{
    std::set<ImageFormat> formats;
    bool animated = false;
    for (const SampleFile& f : *files_) {
        if (!f.encrypted) continue;
        SCOPED_TRACE(Name(f));
        EXPECT_TRUE(container::IsEncryptedFile(f.path));
        EXPECT_TRUE(container::ReadContainerHeader(f.path).ok());
        const Result<QImage> picture = Picture(f);
        ASSERT_TRUE(picture.ok()) << picture.error().message;
        EXPECT_FALSE(picture.value().isNull());
        formats.insert(imaging::FormatFromExtension(f.path));
        animated = animated || f.animated;
    }
    EXPECT_TRUE(std::ranges::includes(
        formats, std::set{ImageFormat::Jpeg, ImageFormat::Png, ImageFormat::Gif, ImageFormat::WebP}));
    EXPECT_TRUE(animated);

    // The program reads these options from a settings file that is not there yet; the samples
    // must open under them.
    test::TempDir noSettings;
    settings::SettingsStore appSettings, regeditSettings;
    settings::AppOptions firstStart;
    settings::LoadSettings(firstStart, appSettings, regeditSettings, noSettings.path() + "/");
    EXPECT_EQ(SampleEncryptionOptions().FileNamePW, firstStart.FileNamePW);

    const auto first = std::ranges::find_if(*files_, &SampleFile::encrypted);
    ASSERT_NE(first, files_->end());
    EXPECT_EQ(container::VerifyContainerFile(first->path, "Quillix", SampleEncryptionOptions().FileNamePW).error().kind,
              ErrorKind::WrongPassword);
}

TEST_F(SampleFolder, EveryPlainPictureDecodesAndTheSizesVary)
{
    bool huge = false, tallPortrait = false, tiny = false, transparent = false;
    for (const SampleFile& f : *files_) {
        if (f.encrypted) continue;
        SCOPED_TRACE(Name(f));
        const Result<QImage> picture = Picture(f);
        ASSERT_TRUE(picture.ok()) << picture.error().message;
        const QImage& image = picture.value();
        huge = huge || image.width() * image.height() >= 12'000'000;
        tallPortrait = tallPortrait || image.height() >= 4 * image.width();
        tiny = tiny || image.width() * image.height() <= 16 * 16;
        if (image.hasAlphaChannel())
            for (int y = 0; y < image.height() && !transparent; y += 7)
                for (int x = 0; x < image.width() && !transparent; x += 7)
                    transparent = qAlpha(image.pixel(x, y)) < 255;
    }
    EXPECT_TRUE(huge);
    EXPECT_TRUE(tallPortrait);
    EXPECT_TRUE(tiny);
    EXPECT_TRUE(transparent);
}

int WebPFrameCount(const std::vector<std::uint8_t>& bytes)
{
    const WebPData data{bytes.data(), bytes.size()};
    std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)> demux(WebPDemux(&data), &WebPDemuxDelete);
    return demux ? static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT)) : 0;
}

TEST_F(SampleFolder, OneGifAndOneWebPMove)
{
    std::map<ImageFormat, int> animations;
    for (const SampleFile& f : *files_) {
        const ImageFormat format = imaging::FormatFromExtension(f.path);
        if (format != ImageFormat::Gif && format != ImageFormat::WebP) continue;
        SCOPED_TRACE(Name(f));
        const std::vector<std::uint8_t> bytes = f.encrypted ? Decrypted(f) : test::ReadFile(f.path);
        if (format == ImageFormat::WebP) {
            if (!f.encrypted) {
                EXPECT_EQ(imaging::IsAnimatedFile(f.path), f.animated);
            }
            EXPECT_EQ(imaging::IsAnimatedBytes(bytes), f.animated);
            EXPECT_EQ(WebPFrameCount(bytes) > 1, f.animated);
        } else {
            const Result<imaging::GifAnimation> gif = imaging::DecodeGif(bytes);
            ASSERT_TRUE(gif.ok()) << gif.error().message;
            const auto& frames = gif.value().frames;
            EXPECT_EQ(frames.size() > 1, f.animated);
            if (f.animated) {
                EXPECT_NE(frames.front().image, frames[frames.size() / 2].image);
                EXPECT_GT(frames.front().delayMs, 0);
            }
        }
        animations[format] += f.animated ? 1 : 0;
    }
    EXPECT_EQ(animations, (std::map<ImageFormat, int>{{ImageFormat::Gif, 1}, {ImageFormat::WebP, 1}}));
}

TEST_F(SampleFolder, RunningAgainRewritesTheSetAndKeepsOtherFiles)
{
    // What a user may have done in the gallery since: decrypted one sample, encrypted another
    // (a stand-in container is enough), and added a picture of their own.
    const auto encrypted = std::ranges::find_if(*files_, &SampleFile::encrypted);
    const auto plain = std::ranges::find_if(*files_, [](const SampleFile& f) { return !f.encrypted; });
    ASSERT_TRUE(encrypted != files_->end() && plain != files_->end());
    const std::string decryptedPath =
        container::DecryptToPlainFile(encrypted->path, kSamplePassword, SampleEncryptionOptions().FileNamePW).value();
    std::filesystem::remove(encrypted->path);
    const std::string strayContainer = folder_ + "/$" + Name(*plain);
    test::WriteFile(strayContainer, std::string("not a real container"));
    test::WriteFile(folder_ + "/mine.txt", std::string("keep me"));

    const auto again = WriteSampleFolder(folder_);
    ASSERT_TRUE(again.ok()) << again.error().message;
    EXPECT_EQ(again.value().size(), files_->size());
    EXPECT_TRUE(std::filesystem::exists(encrypted->path));
    EXPECT_FALSE(std::filesystem::exists(decryptedPath));
    EXPECT_FALSE(std::filesystem::exists(strayContainer));
    EXPECT_EQ(test::ReadText(folder_ + "/mine.txt"), "keep me");
    EXPECT_TRUE(Picture(*encrypted).ok());
}

TEST(SampleFolderErrors, AFolderThatCannotBeMadeIsAnErrorNamingIt)
{
    test::TempDir dir;
    test::WriteFile(dir / "file", std::string("x"));
    for (const std::string& folder : {dir / "file", dir / "file/below"}) {
        SCOPED_TRACE(folder);
        const auto written = WriteSampleFolder(folder);
        ASSERT_FALSE(written.ok());
        EXPECT_EQ(written.error().kind, ErrorKind::Io);
        EXPECT_NE(written.error().message.find(folder), std::string::npos);
    }
}

}  // namespace
}  // namespace quillix::samples
