#include "container/file_crypto.h"
#include "container/file_ops.h"
#include "container/key_derivation.h"
#include "crypto/secure.h"
#include "crypto/secure_memory.h"
#include "gallery/thumbnail_maker.h"
#include "gallery/tile_layout.h"
#include "imaging/bmp_codec.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "imaging/wipe_pixels.h"
#include "support/memory_scan.h"
#include "support/pool_drain.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "viewer/picture_pipeline.h"
#include "workers/worker_pool.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <filesystem>

// A container shown and then left behind leaves nothing of its picture in the process's memory,
// and what it shows meanwhile lives in guarded memory. Read back through /proc/self/mem.
namespace quillix::viewer {
namespace {

using test::CountInMemory;
using test::FindInMemory;
using test::InGuardedMemory;
using test::MemoryHits;
using test::Needle;
using test::Nonce;
using test::PixelRun;

void UseEventLoop()
{
    static int argc = 1;
    static char name[] = "container_memory_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

// ARGB32, which the encoders take as it is: a converted copy would be left in memory unwiped.
QImage PictureWithRun(const Needle& run)
{
    QImage image(64, 48, QImage::Format_ARGB32);
    image.fill(qRgb(90, 90, 90));
    int x = 0;
    for (const std::string* half : {&run.first, &run.second}) {
        for (std::size_t at = 0; at < half->size(); at += 4, ++x) {
            const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>((*half)[at + k]); };
            image.setPixel(x, 10, qRgb(byte(2), byte(1), byte(0)));
        }
    }
    return image;
}

// A JPEG whose comment segment holds `marker`.
std::vector<std::uint8_t> JpegWithComment(const Needle& marker)
{
    const std::vector<std::uint8_t> jpeg = imaging::EncodeJpeg(QImage(40, 30, QImage::Format_RGB32), 90).value();
    std::vector<std::uint8_t> commented;
    commented.reserve(jpeg.size() + 4 + marker.size());
    commented.insert(commented.end(), jpeg.begin(), jpeg.begin() + 2);
    commented.insert(commented.end(), {0xFF, 0xFE, 0, static_cast<std::uint8_t>(marker.size() + 2)});
    commented.insert(commented.end(), marker.first.begin(), marker.first.end());
    commented.insert(commented.end(), marker.second.begin(), marker.second.end());
    commented.insert(commented.end(), jpeg.begin() + 2, jpeg.end());
    return commented;
}

// `needle` joined into `text`, sized once so that no outgrown buffer is left behind.
void Join(const Needle& needle, std::string& text)
{
    text.reserve(needle.size());
    text += needle.first;
    text += needle.second;
}

// The password is joined afresh for each prompt, as a dialog would hand it over.
struct Dialogs : test::ScriptedDialogs {
    const Needle* password = nullptr;

    std::optional<TypedPassword> AskPassword(PasswordPrompt, const std::string&) override
    {
        TypedPassword typed;
        typed.text.reserve(password->size());
        typed.text += password->first;
        typed.text += password->second;
        return typed;
    }
};

// Three containers: a JPEG with a marker in its comment, a BMP and a PNG whose pixels hold a run
// of eight marked pixels; and a plain picture to step to. Declared so that the pool goes first.
struct Rig {
    test::TempDir dir;
    std::uint64_t nonce = Nonce();
    Needle password{"pw" + std::to_string(nonce % 1000003), "-Kq4"};
    Needle marker{"qlx-marker-" + std::to_string(nonce % 99991), "-of-the-plain-file"};
    Needle pixels = PixelRun(nonce);
    Dialogs dialogs;
    container::FileCrypto crypto{dialogs, {}};
    workers::WorkerPool pool{2};

    Rig()
    {
        UseEventLoop();
        dialogs.password = &password;
        std::vector<std::uint8_t> jpeg = JpegWithComment(marker);
        Seal("a.jpg", jpeg);
        QImage picture = PictureWithRun(pixels);
        std::vector<std::uint8_t> bmp = imaging::EncodeBmp(picture).value();
        Seal("p.bmp", bmp);
        std::vector<std::uint8_t> png = imaging::EncodePng(picture).value();
        Seal("q.png", png);
        imaging::WipePixels(picture);
        test::WriteFile(dir / "plain.png", imaging::EncodePng(QImage(20, 20, QImage::Format_RGB32)).value());
    }

    // Encrypts `plain` into "$" + name, keeping no copy of it.
    void Seal(const std::string& name, std::vector<std::uint8_t>& plain)
    {
        test::WriteFile(dir / name, plain);
        crypto::SecureWipe(plain.data(), plain.size());
        container::FileOptions options;
        options.Passes = 0;
        crypto::SecretText text;
        Join(password, text.text);
        ASSERT_TRUE(container::EncryptToContainer(dir / name, text.text, options).ok());
        std::filesystem::remove(dir / name);
    }
};

TEST(ContainerMemory, APictureShownAndLeftLeavesNothingOfItsBytesOrPixels)
{
    // As the programs do first; the process still reads its own memory afterwards.
    crypto::ProtectProcessMemory();
    Rig rig;
    ASSERT_TRUE(rig.crypto.EnsurePassword(false));
    if (test::kCanScan) {
        const MemoryHits held = FindInMemory(rig.password);
        EXPECT_EQ(held.unlocked, 0) << "the password of the run lies outside guarded memory";
        EXPECT_GE(held.locked, 1);
    }

    std::shared_ptr<const DecodedPicture> onScreen;
    PicturePipeline pipeline(
        rig.pool, rig.crypto,
        [&rig](const std::string& path, const PictureSettings& settings) {
            return DecodeForViewer(path, rig.crypto, settings);
        },
        [&onScreen](std::shared_ptr<const DecodedPicture> picture) { onScreen = std::move(picture); });
    const auto show = [&](const std::string& name, Size screen) {
        pipeline.Request(rig.dir / name, {}, PictureSettings{screen, {}, true});
        test::Drain(rig.pool);
        ASSERT_TRUE(onScreen && !onScreen->failed()) << name << ": " << (onScreen ? onScreen->failure : "");
        EXPECT_EQ(onScreen->path, rig.dir / name);
    };

    // The pixels while they show: only in guarded memory, the copy fitted to a small screen too.
    for (const Size screen : {Size{1920, 1080}, Size{32, 24}}) {
        for (const char* name : {"$p.bmp", "$q.png", "$a.jpg"}) {
            show(name, screen);
            if (HasFatalFailure()) return;
            EXPECT_TRUE(InGuardedMemory(onScreen->picture.still.constBits())) << name;
            EXPECT_EQ(onScreen->fitted.isNull(), screen.width > 64) << name;
            if (!onScreen->fitted.isNull()) {
                EXPECT_TRUE(InGuardedMemory(onScreen->fitted.constBits())) << name;
            }
            if (test::kCanScan && std::string(name) == "$p.bmp" && screen.width > 64) {
                const MemoryHits shown = FindInMemory(rig.pixels);
                EXPECT_EQ(shown.unlocked, 0);
                EXPECT_GE(shown.locked, 1);
            }
        }
        pipeline.Forget();
    }

    // Stepping on to a plain picture and leaving the viewer.
    show("plain.png", {1920, 1080});
    pipeline.Forget();
    onScreen.reset();
    test::Drain(rig.pool);
    if (!test::kCanScan) return;
    EXPECT_EQ(CountInMemory(rig.marker), 0);
    EXPECT_EQ(CountInMemory(rig.pixels), 0);
}

TEST(ContainerMemory, ThumbnailsOfContainersLiveInGuardedMemoryAndLeaveNothingOnceDropped)
{
    Rig rig;
    {
        std::vector<gallery::Thumbnail> made;
        // A well as large as the picture keeps its pixels as decoded; the default one scales them.
        for (const int tileSize : {64 + 2 * gallery::kTileInset, 128}) {
            for (const char* name : {"$p.bmp", "$q.png", "$a.jpg"}) {
                gallery::ThumbnailRequest request{rig.dir / name, {}, true, tileSize};
                Join(rig.password, request.password);
                made.push_back(gallery::MakeThumbnail(request));
                crypto::SecureWipe(request.password);
                ASSERT_EQ(made.back().kind, gallery::ThumbnailKind::Picture) << name << " " << tileSize;
                EXPECT_TRUE(InGuardedMemory(made.back().image.constBits())) << name << " " << tileSize;
            }
        }
        if (!test::kCanScan) return;
        const MemoryHits held = FindInMemory(rig.pixels);
        EXPECT_EQ(held.unlocked, 0);
        EXPECT_GE(held.locked, 2);
    }
    EXPECT_EQ(CountInMemory(rig.marker), 0);
    EXPECT_EQ(CountInMemory(rig.pixels), 0);
}

TEST(ContainerMemory, CachedKeysLiveInGuardedMemoryUntilForgotten)
{
    if (!test::kCanScan) GTEST_SKIP() << "the memory scan needs a build without AddressSanitizer";
    container::ClearKeyCache();
    const std::array<std::uint8_t, 16> salt{7, 1, 8, 2, 8, 1, 8, 2, 8, 4, 5, 9, 0, 4, 5, 2};
    crypto::SecureBytes keys(48);
    ASSERT_TRUE(container::DeriveKeysCached("cache-pw-" + std::to_string(Nonce() % 100000), salt, 1000,
                                            std::span(keys).first(16), std::span(keys).subspan<16, 32>()));
    Needle cipherKey;
    cipherKey.first.assign(keys.begin(), keys.begin() + 8);
    cipherKey.second.assign(keys.begin() + 8, keys.begin() + 16);

    const MemoryHits cached = FindInMemory(cipherKey);
    EXPECT_EQ(cached.unlocked, 0);
    EXPECT_EQ(cached.locked, 2);  // the cache's and this test's
    container::ClearKeyCache();
    const MemoryHits cleared = FindInMemory(cipherKey);
    EXPECT_EQ(cleared.unlocked, 0);
    EXPECT_EQ(cleared.locked, 1);
}

}  // namespace
}  // namespace quillix::viewer
