#include "common/paths.h"
#include "container/file_crypto.h"
#include "container/file_ops.h"
#include "imaging/animation_encoder.h"
#include "support/containers.h"
#include "support/gate.h"
#include "support/picture_files.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "viewer/picture_pipeline.h"
#include "workers/worker_pool.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <new>

namespace quillix::viewer {
namespace {

using namespace std::chrono_literals;
using test::TempDir;
using Picture = std::shared_ptr<const DecodedPicture>;

constexpr const char* kPassword = "quillix";

using test::Gate;

// The pipeline hands its results over through the event loop of the thread that made it.
void UseEventLoop()
{
    static int argc = 1;
    static char name[] = "viewer_core_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

// Runs the results already posted; after the pool is idle, that is all of them.
void Deliver()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

// The test's thread plays the window thread: the pipeline's results reach it through its event
// loop, which the test turns. Members are declared in the order they must outlive each other: the pool joins its
// threads before the decode counts and gates they use go.
struct Rig {
    TempDir dir;
    test::ScriptedDialogs dialogs;
    container::FileCrypto crypto{dialogs, {}};
    PictureSettings settings{{1920, 1080}, {}, false};

    std::mutex mutex;
    std::map<std::string, int> decodes;
    std::map<std::string, std::shared_ptr<Gate>> gates;
    std::vector<Picture> delivered;
    // What the window holds: the picture it shows.
    Picture onScreen;

    workers::WorkerPool pool;
    std::unique_ptr<PicturePipeline> pipeline;

    explicit Rig(unsigned threads = 2) : pool(threads)
    {
        UseEventLoop();
        pipeline = std::make_unique<PicturePipeline>(
            pool, crypto,
            [this](const std::string& path, const PictureSettings& s) {
                std::shared_ptr<Gate> gate;
                {
                    std::lock_guard lock(mutex);
                    ++decodes[FileNameOf(path)];
                    if (const auto found = gates.find(FileNameOf(path)); found != gates.end()) gate = found->second;
                }
                if (gate) gate->Pass();
                return DecodeForViewer(path, crypto, s);
            },
            [this](Picture picture) {
                delivered.push_back(picture);
                onScreen = std::move(picture);
            });
    }
    ~Rig()
    {
        for (auto& [name, gate] : gates)
            gate->Open();
        pipeline.reset();
    }

    std::string operator/(const std::string& name) const { return dir / name; }

    std::shared_ptr<Gate> Hold(const std::string& name)
    {
        std::lock_guard lock(mutex);
        return gates[name] = std::make_shared<Gate>();
    }
    int Decodes(const std::string& name)
    {
        std::lock_guard lock(mutex);
        return decodes.count(name) ? decodes[name] : 0;
    }
    // Turns the event loop, waking for each result, until `done` holds; false after 20 s without it.
    bool RunUntil(const std::function<bool()>& done)
    {
        QTimer limit;
        limit.setSingleShot(true);
        limit.start(20s);
        while (!done()) {
            if (!limit.isActive()) return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    // Asks for `name` (with `next` decoded ahead) and waits until it and the preload are done.
    void Step(const std::string& name, const std::string& next)
    {
        pipeline->Request(*this / name, next.empty() ? std::string() : *this / next, settings);
        ASSERT_TRUE(RunUntil([this] { return !pipeline->Pending() && pipeline->DecodesInFlight() == 0; }));
        ASSERT_TRUE(onScreen);
        EXPECT_EQ(onScreen->path, *this / name);
    }
    std::vector<std::string> Kept() const
    {
        std::vector<std::string> names;
        for (const std::string& path : pipeline->KeptPaths())
            names.push_back(FileNameOf(path));
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST(PicturePipeline, PreloadsOneAheadInTheDirectionOfTravel)
{
    Rig rig;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
        test::WriteJpeg(rig / name, 40, 30);

    rig.Step("a.jpg", "b.jpg");
    EXPECT_EQ(rig.Decodes("b.jpg"), 1) << "the next file is decoded once a is shown";
    EXPECT_FALSE(rig.onScreen->failed());
    EXPECT_EQ(rig.onScreen->picture.still.size(), QSize(40, 30));

    // Stepping onto the preloaded file shows it at once, from the request itself.
    const std::size_t before = rig.delivered.size();
    rig.pipeline->Request(rig / "b.jpg", rig / "c.jpg", rig.settings);
    ASSERT_EQ(rig.delivered.size(), before + 1);
    EXPECT_EQ(rig.onScreen->path, rig / "b.jpg");
    ASSERT_TRUE(rig.RunUntil([&] { return rig.pipeline->DecodesInFlight() == 0; }));
    EXPECT_EQ(rig.Decodes("b.jpg"), 1);
    EXPECT_EQ(rig.Kept(), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));

    // Turning back: the previous picture is still there, and the one before it is decoded ahead.
    rig.pipeline->Request(rig / "a.jpg", "", rig.settings);
    EXPECT_EQ(rig.delivered.size(), before + 2);
    EXPECT_EQ(rig.Decodes("a.jpg"), 1);
    EXPECT_EQ(rig.Kept(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    rig.Step("b.jpg", "c.jpg");
    EXPECT_EQ(rig.Decodes("b.jpg"), 1);
    EXPECT_EQ(rig.Decodes("c.jpg"), 2) << "c was let go when the travel turned";
    EXPECT_EQ(rig.Decodes("d.jpg"), 0);
}

TEST(PicturePipeline, KeepsTheShownThePreviousAndThePreloadedPictureOnly)
{
    Rig rig;
    const std::vector<std::string> names = {"0.jpg", "1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"};
    for (const std::string& name : names)
        test::WriteJpeg(rig / name, 32, 32);
    std::vector<std::weak_ptr<const DecodedPicture>> shown;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string next = i + 1 < names.size() ? names[i + 1] : std::string();
        rig.Step(names[i], next);
        shown.push_back(rig.onScreen);
        std::vector<std::string> expected = {names[i]};
        if (i > 0) expected.push_back(names[i - 1]);
        if (!next.empty()) expected.push_back(next);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(rig.Kept(), expected) << "at " << names[i];
    }
    // Nothing older than the previous picture is held anywhere: its pixels are gone.
    rig.delivered.clear();
    for (std::size_t i = 0; i + 2 < shown.size(); ++i)
        EXPECT_TRUE(shown[i].expired()) << names[i];
    EXPECT_FALSE(shown[shown.size() - 2].expired());
    for (const std::string& name : names)
        EXPECT_EQ(rig.Decodes(name), 1) << name;
}

TEST(PicturePipeline, ANewerRequestCancelsOrDropsAnOlderOne)
{
    Rig rig(1);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        test::WriteJpeg(rig / name, 16, 16);
    const std::shared_ptr<Gate> gate = rig.Hold("a.jpg");
    rig.pipeline->Request(rig / "a.jpg", "", rig.settings);
    ASSERT_TRUE(gate->WaitEntered());
    // a runs and cannot be stopped; b waits in the queue and is cancelled there by c.
    rig.pipeline->Request(rig / "b.jpg", "", rig.settings);
    rig.pipeline->Request(rig / "c.jpg", "", rig.settings);
    EXPECT_EQ(rig.pool.QueuedCount(), 1u);
    gate->Open();
    ASSERT_TRUE(rig.RunUntil([&] { return !rig.pipeline->Pending(); }));
    rig.pool.WaitIdle();
    Deliver();
    ASSERT_EQ(rig.delivered.size(), 1u);
    EXPECT_EQ(rig.delivered[0]->path, rig / "c.jpg");
    EXPECT_EQ(rig.Decodes("b.jpg"), 0);
    EXPECT_EQ(rig.Kept(), std::vector<std::string>{"c.jpg"});
}

TEST(PicturePipeline, SteppingOntoAPreloadStillDecodingWaitsForIt)
{
    Rig rig(1);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        test::WriteJpeg(rig / name, 16, 16);
    const std::shared_ptr<Gate> gate = rig.Hold("b.jpg");
    rig.pipeline->Request(rig / "a.jpg", rig / "b.jpg", rig.settings);
    ASSERT_TRUE(rig.RunUntil([&] { return !rig.pipeline->Pending(); }));
    ASSERT_TRUE(gate->WaitEntered());
    rig.pipeline->Request(rig / "b.jpg", rig / "c.jpg", rig.settings);
    EXPECT_TRUE(rig.pipeline->Pending());
    gate->Open();
    ASSERT_TRUE(rig.RunUntil([&] { return !rig.pipeline->Pending(); }));
    EXPECT_EQ(rig.onScreen->path, rig / "b.jpg");
    EXPECT_EQ(rig.Decodes("b.jpg"), 1) << "the preload was not started twice";
}

TEST(PicturePipeline, AChangedFileIsReadAgain)
{
    Rig rig;
    test::WriteJpeg(rig / "a.jpg", 40, 30);
    test::WriteJpeg(rig / "b.jpg", 40, 30);
    rig.Step("a.jpg", "b.jpg");
    rig.Step("b.jpg", "");
    test::WriteJpeg(rig / "a.jpg", 60, 30);
    rig.Step("a.jpg", "");
    EXPECT_EQ(rig.onScreen->picture.still.size(), QSize(60, 30));
    EXPECT_EQ(rig.Decodes("a.jpg"), 2);

    // Forget drops what is kept, and a request that was waiting is served all the same.
    rig.pipeline->Forget();
    EXPECT_TRUE(rig.pipeline->KeptPaths().empty());
    const std::shared_ptr<Gate> gate = rig.Hold("b.jpg");
    rig.pipeline->Request(rig / "b.jpg", "", rig.settings);
    ASSERT_TRUE(gate->WaitEntered());
    rig.pipeline->Forget();
    EXPECT_TRUE(rig.pipeline->Pending());
    gate->Open();
    ASSERT_TRUE(rig.RunUntil([&] { return !rig.pipeline->Pending(); }));
    EXPECT_EQ(rig.onScreen->path, rig / "b.jpg");
    EXPECT_EQ(rig.Decodes("b.jpg"), 3) << "read before, then once dropped and once shown";
}

TEST(PicturePipeline, ContainersFollowThePasswordOfTheRun)
{
    Rig rig;
    test::WriteJpeg(rig / "a.jpg", 24, 16);
    const std::string container = test::EncryptInPlace(rig / "a.jpg", kPassword, false);
    const std::string name = FileNameOf(container);

    rig.Step(name, "");
    EXPECT_EQ(rig.onScreen->failure, kLockedNoPassword);
    EXPECT_TRUE(rig.onScreen->locked);

    rig.dialogs.passwords = {std::string(kPassword)};
    ASSERT_TRUE(rig.crypto.EnsurePassword(false));
    rig.Step(name, "");
    EXPECT_FALSE(rig.onScreen->failed()) << rig.onScreen->failure;
    EXPECT_FALSE(rig.onScreen->locked);
    EXPECT_EQ(rig.onScreen->picture.still.size(), QSize(24, 16));
    rig.Step(name, "");
    EXPECT_EQ(rig.Decodes(name), 2) << "a picture decrypted under this password is kept";

    // The file-name option changes the password text, so the kept picture no longer counts.
    rig.settings.fileNamePW = true;
    rig.Step(name, "");
    EXPECT_EQ(rig.onScreen->failure, kLockedWrongPassword);
    EXPECT_TRUE(rig.onScreen->locked);

    rig.settings.fileNamePW = false;
    rig.crypto.ClearPassword();
    rig.Step(name, "");
    EXPECT_EQ(rig.onScreen->failure, kLockedNoPassword);
    EXPECT_EQ(rig.Decodes(name), 4);

    // A file that only has a container's name is no locked picture: it fails as it is.
    test::WriteFile(rig / "$b.jpg", std::string("not a container"));
    rig.dialogs.passwords = {std::string(kPassword)};
    ASSERT_TRUE(rig.crypto.EnsurePassword(false));
    rig.Step("$b.jpg", "");
    EXPECT_EQ(rig.onScreen->failure, "Decrypt failed (file error).");
    EXPECT_FALSE(rig.onScreen->locked);
}

TEST(PicturePipeline, DecodesEveryKindOffTheWindowThread)
{
    Rig rig;
    imaging::GifEncodeInput gif;
    gif.width = gif.height = 4;
    gif.globalColours = {qRgb(255, 0, 0), qRgb(0, 0, 255)};
    gif.loopCount = 3;
    for (std::uint8_t i = 0; i < 2; ++i) {
        imaging::GifEncodeFrame frame;
        frame.width = frame.height = 4;
        frame.indices.assign(16, i);
        frame.delayCs = 10;
        gif.frames.push_back(frame);
    }
    test::WriteFile(rig / "anim.gif", test::ValueOrThrow(imaging::EncodeGif(gif)));
    test::WriteFile(rig / "sealed.gif", test::ValueOrThrow(imaging::EncodeGif(gif)));
    test::WriteFile(rig / "still.webp",
                    test::ValueOrThrow(imaging::EncodeStillWebP(test::Filled(30, 20, qRgb(9, 9, 9)))));
    std::vector<imaging::WebPAnimationFrame> frames;
    for (const QRgb colour : {qRgb(255, 0, 0), qRgb(0, 255, 0)})
        frames.push_back({test::Filled(16, 16, colour), 80});
    test::WriteFile(rig / "anim.webp", test::ValueOrThrow(imaging::EncodeAnimatedWebP(frames, {})));
    test::WriteFile(rig / "sealed.webp", test::ValueOrThrow(imaging::EncodeAnimatedWebP(frames, {})));
    test::EncryptInPlace(rig / "sealed.gif", kPassword, false);
    test::EncryptInPlace(rig / "sealed.webp", kPassword, false);
    test::WriteJpeg(rig / "big.jpg", 4000, 3000);
    rig.dialogs.passwords = {std::string(kPassword)};
    ASSERT_TRUE(rig.crypto.EnsurePassword(false));

    struct Case {
        const char* name;
        bool gif;
        imaging::GifOrigin origin;
        bool webpAnimation;
        QSize still;
        QSize fitted;
    };
    const Case cases[] = {
        {"anim.gif", true, imaging::GifOrigin::Plain, false, {}, {}},
        {"$sealed.gif", true, imaging::GifOrigin::Encrypted, false, {}, {}},
        {"still.webp", false, imaging::GifOrigin::Plain, false, {30, 20}, {}},
        {"anim.webp", false, imaging::GifOrigin::Plain, true, {}, {}},
        {"$sealed.webp", false, imaging::GifOrigin::Plain, true, {}, {}},
        // 4000 × 3000 fits a 1920 × 1080 screen at 0.36: the copy for the first paint is made here.
        {"big.jpg", false, imaging::GifOrigin::Plain, false, {4000, 3000}, {1440, 1080}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::shared_ptr<DecodedPicture> decoded = DecodeForViewer(rig / c.name, rig.crypto, rig.settings);
        ASSERT_FALSE(decoded->failed()) << decoded->failure;
        const LoadedPicture& picture = decoded->picture;
        EXPECT_EQ(picture.gif.has_value(), c.gif);
        if (c.gif) {
            EXPECT_EQ(picture.gifOrigin, c.origin);
        }
        EXPECT_EQ(picture.webpAnimation != nullptr, c.webpAnimation);
        EXPECT_EQ(picture.still.size(), c.still.isValid() ? c.still : QSize(0, 0));
        EXPECT_EQ(decoded->fitted.size(), c.fitted.isValid() ? c.fitted : QSize(0, 0));
    }
    // The fit at 100 % needs no copy.
    rig.settings.scaling.ScaleToFit = false;
    EXPECT_TRUE(DecodeForViewer(rig / "big.jpg", rig.crypto, rig.settings)->fitted.isNull());
}

// A zoom away from the fit asks for a smooth copy; only the latest zoom's copy is made.
TEST(PicturePipeline, ScalesForTheLatestZoomOnly)
{
    Rig rig(1);
    std::vector<QSize> copies;
    qint64 copiedKey = 0;
    rig.pipeline->OnScaled([&](qint64 key, QImage scaled) {
        copiedKey = key;
        copies.push_back(scaled.size());
    });
    const QImage source = test::Filled(400, 300, qRgb(10, 20, 30));
    {
        const std::shared_ptr<Gate> gate = std::make_shared<Gate>();
        rig.pool.Submit(workers::JobPriority::Thumbnail, [gate] { gate->Pass(); });
        ASSERT_TRUE(gate->WaitEntered());
        rig.pipeline->RequestScaled(source, QSize(200, 150));
        rig.pipeline->RequestScaled(source, QSize(100, 75));
        rig.pipeline->RequestScaled(source, QSize(100, 75));
        EXPECT_EQ(rig.pool.QueuedCount(), 1u);
        gate->Open();
    }
    ASSERT_TRUE(rig.RunUntil([&] { return !copies.empty(); }));
    rig.pool.WaitIdle();
    EXPECT_EQ(copies, std::vector<QSize>{QSize(100, 75)});
    EXPECT_EQ(copiedKey, source.cacheKey());
}

TEST(PicturePipeline, AThrowingDecodeCostsItsPictureOnly)
{
    TempDir dir;
    test::ScriptedDialogs dialogs;
    container::FileCrypto crypto{dialogs, {}};
    std::vector<Picture> delivered;
    UseEventLoop();
    workers::WorkerPool pool(1);
    PicturePipeline pipeline(
        pool, crypto,
        [](const std::string& path, const PictureSettings&) -> std::shared_ptr<DecodedPicture> {
            if (path.ends_with("huge.jpg")) throw std::bad_alloc();
            auto decoded = std::make_shared<DecodedPicture>();
            decoded->path = path;
            decoded->picture.still = test::Filled(2, 2, 0);
            return decoded;
        },
        [&](Picture picture) { delivered.push_back(std::move(picture)); });
    for (const char* name : {"huge.jpg", "fine.jpg"}) {
        pipeline.Request(dir / name, "", {});
        pool.WaitIdle();
        Deliver();
    }
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0]->failure, std::bad_alloc().what());
    EXPECT_FALSE(delivered[1]->failed());
    EXPECT_EQ(pool.FailedCount(), 0u);
}

TEST(PicturePipeline, DestructionWaitsForItsRunningDecodeAndDropsItsResult)
{
    auto rig = std::make_unique<Rig>(1);
    test::WriteJpeg(*rig / "a.jpg", 16, 16);
    const std::shared_ptr<Gate> gate = rig->Hold("a.jpg");
    rig->pipeline->Request(*rig / "a.jpg", "", rig->settings);
    ASSERT_TRUE(gate->WaitEntered());
    std::future<void> destroyed = std::async(std::launch::async, [&] { rig->pipeline.reset(); });
    EXPECT_EQ(destroyed.wait_for(100ms), std::future_status::timeout) << "a decode still uses the crypto state";
    gate->Open();
    destroyed.get();
    rig->pool.WaitIdle();
    Deliver();
    EXPECT_TRUE(rig->delivered.empty()) << "nothing arrives once the pipeline is gone";
}

}  // namespace
}  // namespace quillix::viewer
