#include "app/startup.h"
#include "browse/folder_model.h"
#include "container/container_file.h"
#include "container/file_crypto.h"
#include "container/file_ops.h"
#include "gallery/gallery_window.h"
#include "imaging/animation_encoder.h"
#include "imaging/bmp_codec.h"
#include "imaging/heif_fixtures.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "imaging/tiff_fixtures.h"
#include "platform/qt_dialogs.h"
#include "support/containers.h"
#include "support/picture_files.h"
#include "support/pool_drain.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/wheel.h"
#include "support/when_shown.h"
#include "viewer/viewer_window.h"

#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <map>
#include <memory>

using quillix::MessageAnswer;
using quillix::MessageIcon;
using quillix::gallery::GalleryWindow;
using quillix::test::EncryptInPlace;
using quillix::test::Filled;
using quillix::test::ScriptedDialogs;
using quillix::test::SendWheel;
using quillix::test::TempDir;
using quillix::test::ValueOrThrow;
using quillix::test::WhenShown;
using quillix::test::WriteJpeg;
using quillix::viewer::ViewerEnvironment;
using quillix::viewer::ViewerWindow;
using quillix::workers::WorkerPool;

namespace {

constexpr const char* kPassword = "quillix";

bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 12 && std::abs(qGreen(a) - qGreen(b)) < 12 &&
           std::abs(qBlue(a) - qBlue(b)) < 12;
}

std::vector<std::uint8_t> AnimatedGif()
{
    quillix::imaging::GifEncodeInput gif;
    gif.width = gif.height = 8;
    gif.globalColours = {qRgb(255, 0, 0), qRgb(0, 0, 255)};
    gif.loopCount = 0;
    for (std::uint8_t i = 0; i < 2; ++i) {
        quillix::imaging::GifEncodeFrame frame;
        frame.width = frame.height = 8;
        frame.indices.assign(64, i);
        frame.delayCs = 10;
        gif.frames.push_back(frame);
    }
    return ValueOrThrow(quillix::imaging::EncodeGif(gif));
}

std::vector<std::uint8_t> AnimatedWebP()
{
    std::vector<quillix::imaging::WebPAnimationFrame> frames;
    for (const QRgb colour : {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)})
        frames.push_back({Filled(16, 16, colour), 80});
    return ValueOrThrow(quillix::imaging::EncodeAnimatedWebP(frames, {}));
}

// Names, sizes and change times of a folder's entries, subfolders included.
std::map<std::string, std::pair<std::uintmax_t, std::int64_t>> Listing(const std::string& folder)
{
    std::map<std::string, std::pair<std::uintmax_t, std::int64_t>> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        entries[entry.path().string()] = {static_cast<std::uintmax_t>(st.st_size),
                                          st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec};
    }
    return entries;
}

int Percent(const ViewerWindow& viewer)
{
    return static_cast<int>(std::floor(viewer.zoomState().Zoom * 100 + 0.5));
}

// A viewer and its gallery over a temporary picture folder, with scripted dialogs, the settings
// file in a folder of its own, a 1920 × 1080 screen and a worker pool of its own.
struct Rig {
    TempDir pictures;
    TempDir config;
    ScriptedDialogs dialogs;
    std::vector<int> quitCodes;
    std::unique_ptr<WorkerPool> pool;
    std::unique_ptr<quillix::session::Session> session;
    std::unique_ptr<ViewerWindow> viewer;
    std::unique_ptr<GalleryWindow> gallery;

    // `real` replaces the scripted dialogs, for the tests that answer real windows.
    explicit Rig(quillix::Dialogs* real = nullptr, unsigned threads = 0) : pool(std::make_unique<WorkerPool>(threads))
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
        session = std::make_unique<quillix::session::Session>(
            quillix::session::SessionEnvironment{real ? real : &dialogs, config.path() + "/", pool.get()});
        ViewerEnvironment environment;
        environment.screenSize = [] { return quillix::viewer::Size{1920, 1080}; };
        environment.quit = [this](int code) { quitCodes.push_back(code); };
        viewer = std::make_unique<ViewerWindow>(*session, std::move(environment));
        session->Options().SortMode = 1;  // by name, so that steps are predictable
        gallery = std::make_unique<GalleryWindow>(*session, *viewer);
        viewer->setGallery(gallery.get());
    }
    ~Rig()
    {
        viewer->setGallery(nullptr);
        gallery.reset();
        viewer.reset();
    }

    std::string operator/(const std::string& name) const { return pictures / name; }

    // As the program does in gallery mode: the gallery at the folder, the file opened from it.
    void Open(const std::string& name)
    {
        viewer->StartGalleryMode();
        gallery->Model().OpenFolder(pictures.path() + "/");
        viewer->OpenFromGallery(pictures / name);
        WaitForFullScreen();
    }
    void WaitForFullScreen()
    {
        QVERIFY(QTest::qWaitFor([this] { return viewer->width() > 100; }, 20000));
        Settle();
    }
    // Until the picture asked for last is on screen.
    void Settle()
    {
        quillix::test::Drain(*pool);
        QVERIFY(!viewer->LoadPending());
    }
    void Show(const std::string& name)
    {
        viewer->OpenFromGallery(pictures / name);
        Settle();
    }
    std::string Shown() const { return quillix::FileNameOf(viewer->CurrentPath()); }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(viewer.get(), static_cast<Qt::Key>(key), modifiers);
        Settle();
    }
    void Click(QPoint at)
    {
        QTest::mouseClick(viewer.get(), Qt::LeftButton, {}, at);
        Settle();
    }
    void Wheel(int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        SendWheel(*viewer, delta, modifiers);
        Settle();
    }
    QString Title() const { return viewer->windowTitle(); }
};

}  // namespace

class ViewerWindowTest : public QObject {
    Q_OBJECT

private slots:
    void stepsWithoutWrappingAround()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            WriteJpeg(rig / name);
        rig.Open("a.jpg");
        QCOMPARE(rig.session->FileList().size(), std::size_t{3});
        // Showing a picture remembers its folder in the settings file.
        const std::vector<std::uint8_t> ini = quillix::test::ReadFile(rig.config / "Quillix.ini");
        const std::string lastDir = "LastDir=" + rig.pictures.path() + "/\r\n";
        QVERIFY(std::search(ini.begin(), ini.end(), lastDir.begin(), lastDir.end()) != ini.end());

        struct Step {
            int key;
            const char* shown;
        };
        // Up steps forward and Down back; neither end wraps around.
        const Step steps[] = {
            {Qt::Key_Left, "a.jpg"},     {Qt::Key_PageUp, "a.jpg"}, {Qt::Key_Right, "b.jpg"}, {Qt::Key_Up, "c.jpg"},
            {Qt::Key_PageDown, "c.jpg"}, {Qt::Key_Right, "c.jpg"},  {Qt::Key_Down, "b.jpg"},  {Qt::Key_PageUp, "a.jpg"},
        };
        // The title follows every step.
        for (const Step& step : steps) {
            rig.Key(step.key);
            QCOMPARE(rig.Shown(), std::string(step.shown));
            QCOMPARE(rig.Title(), QString(step.shown));
            QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / step.shown);
        }

        // The wheel turned towards the user steps forward; the edge zones step too.
        const auto expectShown = [&rig](const char* name) {
            QCOMPARE(rig.Shown(), std::string(name));
            QCOMPARE(rig.Title(), QString(name));
        };
        rig.Wheel(-120);
        expectShown("b.jpg");
        rig.Wheel(120);
        expectShown("a.jpg");
        // Touchpad deltas add up to a notch before anything moves.
        rig.Wheel(-60);
        expectShown("a.jpg");
        rig.Wheel(-60);
        expectShown("b.jpg");
        rig.Click(QPoint(rig.viewer->width() - 10, 100));
        expectShown("c.jpg");
        rig.Click(QPoint(10, 100));
        expectShown("b.jpg");
        rig.Click(QPoint(rig.viewer->width() / 2, 100));
        expectShown("b.jpg");
    }

    void keepsPaintingThePictureUntilTheNextIsReady()
    {
        Rig rig(nullptr, 1);
        const QRgb red = qRgb(220, 30, 30), green = qRgb(30, 200, 30), blue = qRgb(30, 30, 220);
        WriteJpeg(rig / "a.jpg", 64, 48, red);
        WriteJpeg(rig / "b.jpg", 64, 48, green);
        WriteJpeg(rig / "c.jpg", 64, 48, blue);
        rig.Open("a.jpg");
        QCOMPARE(rig.viewer->Pipeline().DecodesInFlight(), std::size_t{0});
        // Above the notice, which is drawn across the middle.
        const auto upperMiddle = [&rig] {
            const QImage shot = rig.viewer->grab().toImage();
            return shot.pixel(shot.width() / 2, shot.height() / 4);
        };

        // With the only worker busy elsewhere, the step onto the preloaded picture needs none.
        quillix::test::HeldWorkers hold(*rig.pool);
        QVERIFY(hold.AllHeld());
        QTest::keyClick(rig.viewer.get(), Qt::Key_Right);
        QVERIFY(!rig.viewer->LoadPending());
        QCOMPARE(rig.Shown(), std::string("b.jpg"));
        QVERIFY(Near(upperMiddle(), green));

        // The next one is not decoded yet: b, its title and its notice stay until it is.
        rig.viewer->ShowNotice("Still b", 60000);
        QTest::keyClick(rig.viewer.get(), Qt::Key_Right);
        QVERIFY(rig.viewer->LoadPending());
        quillix::test::HandlePostedEvents();
        QCOMPARE(rig.Shown(), std::string("b.jpg"));
        QCOMPARE(rig.Title(), QString("b.jpg"));
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "c.jpg");
        QVERIFY(Near(upperMiddle(), green));
        QCOMPARE(rig.viewer->notice().text, std::string("Still b"));

        hold.Open();
        rig.Settle();
        QCOMPARE(rig.Shown(), std::string("c.jpg"));
        QCOMPARE(rig.Title(), QString("c.jpg"));
        QVERIFY(Near(upperMiddle(), blue));
        QVERIFY(rig.viewer->notice().text.empty());
    }

    void windowsSortModeStepsInNaturalNameOrder()
    {
        Rig rig;
        rig.session->Options().SortMode = 0;
        for (const char* name : {"img10.jpg", "img2.jpg", "IMG3.jpg", "img1.jpg"})
            WriteJpeg(rig / name);
        rig.Open("img1.jpg");
        for (const char* name : {"img2.jpg", "IMG3.jpg", "img10.jpg"}) {
            rig.Key(Qt::Key_Right);
            QCOMPARE(rig.Shown(), std::string(name));
        }
    }

    void aMissingFileArgumentOpensTheGalleryAndSaysSo()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg");
        const quillix::app::StartPlan plan = quillix::app::PlanStart(rig / "gone.jpg", rig.pictures.path(), "/");
        QCOMPARE(plan.mode, quillix::app::StartMode::Gallery);
        rig.viewer->StartGalleryMode();
        rig.gallery->OpenAtStart(plan.path, plan.notice);
        QVERIFY(rig.gallery->isVisible());
        QVERIFY(!rig.viewer->isVisible());
        QCOMPARE(rig.gallery->StatusText(), QString::fromStdString("File not found: " + (rig / "gone.jpg")));
        QCOMPARE(rig.session->FileList().size(), std::size_t{1});
    }

    void enterEscapeAndDoubleClickReturnToTheGallery()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg");
        WriteJpeg(rig / "b.jpg");
        for (const int way : {0, 1, 2}) {
            rig.gallery->hide();
            rig.Open("b.jpg");
            QVERIFY(rig.viewer->isVisible());
            if (way == 0) rig.Key(Qt::Key_Return);
            if (way == 1) rig.Key(Qt::Key_Escape);
            if (way == 2) QTest::mouseDClick(rig.viewer.get(), Qt::LeftButton, {}, QPoint(rig.viewer->width() / 2, 50));
            QVERIFY(!rig.viewer->isVisible());
            QVERIFY(rig.gallery->isVisible());
            QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "b.jpg");
        }
        QVERIFY(rig.quitCodes.empty());
    }

    void escapeEndsAStandaloneViewer()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg");
        WriteJpeg(rig / "b.jpg");
        rig.viewer->StartStandalone(rig / "a.jpg");
        rig.WaitForFullScreen();
        // Showing filled the gallery's list from the picture's folder.
        QCOMPARE(rig.session->FileList().size(), std::size_t{2});
        QVERIFY(!rig.viewer->GalleryMode);
        rig.Key(Qt::Key_Escape);
        QCOMPARE(rig.quitCodes, std::vector<int>{0});
        QVERIFY(rig.viewer->PaintSource() != nullptr);

        // A step opens the next file the way the gallery does, and from then on Esc goes back
        // to the gallery, at the picture's folder.
        Rig second;
        WriteJpeg(second / "a.jpg");
        WriteJpeg(second / "b.jpg");
        second.viewer->StartStandalone(second / "a.jpg");
        second.WaitForFullScreen();
        second.Key(Qt::Key_Right);
        QCOMPARE(second.Shown(), std::string("b.jpg"));
        second.Key(Qt::Key_Escape);
        QVERIFY(second.quitCodes.empty());
        QVERIFY(second.gallery->isVisible());
        QCOMPARE(second.gallery->Model().FolderBox(), second.pictures.path() + "/");
        QCOMPARE(second.gallery->Model().CurrentFileName(), second / "b.jpg");
    }

    void deleteGoesOnWithTheFileThatTookItsPlace()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
            WriteJpeg(rig / name);
        rig.Open("b.jpg");

        rig.dialogs.answers = {MessageAnswer::No};
        rig.Key(Qt::Key_Delete);
        QVERIFY(std::filesystem::exists(rig / "b.jpg"));
        QCOMPARE(rig.dialogs.messages.back().caption, std::string("Confirm delete"));
        QCOMPARE(rig.dialogs.messages.back().text, "Delete file?\n\n" + (rig / "b.jpg"));
        QCOMPARE(rig.dialogs.messages.back().icon, MessageIcon::Question);

        // A culling session: each deletion shows the next file, at the end the new last one.
        struct Deletion {
            const char* deleted;
            const char* shown;
        };
        const Deletion deletions[] = {{"b.jpg", "c.jpg"}, {"c.jpg", "d.jpg"}, {"d.jpg", "a.jpg"}};
        for (const Deletion& deletion : deletions) {
            rig.dialogs.answers = {MessageAnswer::Yes};
            rig.Key(Qt::Key_Delete);
            QVERIFY(!std::filesystem::exists(rig / deletion.deleted));
            QCOMPARE(rig.Shown(), std::string(deletion.shown));
            QCOMPARE(rig.Title(), QString(deletion.shown));
            QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / deletion.shown);
            QVERIFY(rig.viewer->PaintSource() != nullptr);
        }
        QCOMPARE(rig.session->FileList().size(), std::size_t{1});

        rig.dialogs.answers = {MessageAnswer::Yes};
        rig.Key(Qt::Key_Delete);
        QVERIFY(!rig.viewer->isVisible());
        QVERIFY(rig.gallery->isVisible());
        QVERIFY(rig.session->FileList().empty());
    }

    void renameRefusesCollisionsAndTakesCaseOnlyChanges()
    {
        Rig rig;
        WriteJpeg(rig / "photo.jpg");
        WriteJpeg(rig / "other.jpg");
        rig.Open("photo.jpg");

        rig.dialogs.inputs = {std::string("other.jpg")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.dialogs.messages.back().caption, std::string("Rename"));
        QCOMPARE(rig.dialogs.messages.back().text, std::string("File already exists."));
        QCOMPARE(rig.dialogs.messages.back().icon, MessageIcon::Warning);
        QVERIFY(std::filesystem::exists(rig / "photo.jpg"));

        const std::size_t shown = rig.dialogs.messages.size();
        rig.dialogs.inputs = {std::string("  photo.jpg  "), std::nullopt, std::string("   ")};
        for (int i = 0; i < 3; ++i)
            rig.Key(Qt::Key_F2);
        QCOMPARE(rig.dialogs.messages.size(), shown);
        QCOMPARE(rig.Shown(), std::string("photo.jpg"));

        rig.dialogs.inputs = {std::string("Photo.jpg")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.Shown(), std::string("Photo.jpg"));
        QCOMPARE(rig.Title(), QString("Photo.jpg"));
        QVERIFY(std::filesystem::exists(rig / "Photo.jpg"));
        QVERIFY(!std::filesystem::exists(rig / "photo.jpg"));
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "Photo.jpg");
        QCOMPARE(rig.viewer->notice().text, std::string("Renamed"));
    }

    // With the name in its key, a container under another name would never open again.
    void renameAndDigitCopiesKeepAContainerReadable()
    {
        Rig rig;
        WriteJpeg(rig / "photo.jpg");
        const std::vector<std::uint8_t> plain = quillix::test::ReadFile(rig / "photo.jpg");
        EncryptInPlace(rig / "photo.jpg", kPassword);
        rig.Open("$photo.jpg");

        // Without the password nothing can tell whether the key holds the name.
        rig.dialogs.inputs = {std::string("b.jpg")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.dialogs.messages.back().caption, std::string("Rename"));
        QVERIFY(rig.dialogs.messages.back().text.rfind("$photo.jpg was not renamed: ", 0) == 0);
        QVERIFY(rig.dialogs.messages.back().text.find("type the password first (Ctrl+Shift+P)") != std::string::npos);
        QCOMPARE(rig.Shown(), std::string("$photo.jpg"));
        rig.Key(Qt::Key_3);
        QCOMPARE(quillix::test::ReadFile(rig / "3/$photo.jpg"), quillix::test::ReadFile(rig / "$photo.jpg"));
        rig.Key(Qt::Key_3);
        QCOMPARE(rig.dialogs.messages.back().caption, std::string("Error"));
        QVERIFY(rig.dialogs.messages.back().text.rfind("Copy failed\n\n$photo.jpg was not copied: ", 0) == 0);
        QCOMPARE(quillix::test::FileNames(rig.pictures), (std::set<std::string>{"$photo.jpg", "3"}));
        QVERIFY(!std::filesystem::exists(rig / "3/$photo1.jpg"));

        // With it, the "$" comes back and the container is made anew for its new name.
        rig.dialogs.passwords = {std::string(kPassword)};
        QVERIFY(rig.session->Crypto().EnsurePassword(false));
        rig.Settle();
        rig.dialogs.inputs = {std::string("b.jpg")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.Shown(), std::string("$b.jpg"));
        QCOMPARE(rig.viewer->notice().text, std::string("Renamed"));
        QVERIFY(rig.viewer->PaintSource() != nullptr);
        QCOMPARE(quillix::test::OpenedBytes(rig / "$b.jpg", kPassword, true), plain);
        rig.Key(Qt::Key_3);
        rig.Key(Qt::Key_3);
        QCOMPARE(rig.viewer->notice().text, std::string("Copied to 3"));
        QCOMPARE(quillix::test::OpenedBytes(rig / "3/$b.jpg", kPassword, true), plain);
        QCOMPARE(quillix::test::OpenedBytes(rig / "3/$b1.jpg", kPassword, true), plain);
        QCOMPARE(quillix::test::FileNames(rig.pictures), (std::set<std::string>{"$b.jpg", "3"}));
    }

    void digitsCopyIntoNumberedSubfolders()
    {
        Rig rig;
        WriteJpeg(rig / "photo.jpg");
        rig.Open("photo.jpg");
        rig.Key(Qt::Key_3);
        rig.Key(Qt::Key_3);
        QCOMPARE(quillix::test::ReadFile(rig / "3/photo1.jpg"), quillix::test::ReadFile(rig / "photo.jpg"));
        QVERIFY(std::filesystem::exists(rig / "3/photo.jpg"));
        QCOMPARE(rig.viewer->notice().text, std::string("Copied to 3"));
        // Keypad digits are not copy keys.
        rig.Key(Qt::Key_4, Qt::KeypadModifier);
        QVERIFY(!std::filesystem::exists(rig / "4"));
        // The list is unchanged: the copies went to another folder.
        QCOMPARE(rig.session->FileList().size(), std::size_t{1});

        std::filesystem::create_directory(rig / "keep");
        rig.dialogs.subfolders = {std::string("keep"), std::nullopt};
        rig.Key(Qt::Key_0);
        QVERIFY(std::filesystem::exists(rig / "keep/photo.jpg"));
        QCOMPARE(rig.viewer->notice().text, std::string("Copied to keep"));
        rig.Key(Qt::Key_0);
        QVERIFY(!std::filesystem::exists(rig / "keep/photo1.jpg"));

        if (quillix::test::PermissionsAreEnforced()) {
            std::filesystem::permissions(rig / "keep",
                                         std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
            rig.dialogs.subfolders = {std::string("keep")};
            rig.Key(Qt::Key_0);
            QCOMPARE(rig.dialogs.messages.back().text, std::string("Copy failed"));
            QCOMPARE(rig.dialogs.messages.back().caption, std::string("Error"));
        }
    }

    void encryptsAndDecryptsTheShownFile()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg");
        WriteJpeg(rig / "b.jpg");
        const std::vector<std::uint8_t> plain = quillix::test::ReadFile(rig / "b.jpg");
        rig.Open("b.jpg");

        // D on a plain picture has nothing to do: it asks nothing and says nothing.
        rig.viewer->ShowNotice("-", 5000);
        rig.Key(Qt::Key_D);
        QCOMPARE(rig.viewer->notice().text, std::string("-"));
        QCOMPARE(rig.dialogs.passwordPrompts, 0);

        // Cancelling the password changes nothing.
        rig.dialogs.passwords = {std::nullopt};
        rig.Key(Qt::Key_E);
        QVERIFY(std::filesystem::exists(rig / "b.jpg"));

        rig.dialogs.passwords = {std::string(kPassword)};
        rig.Key(Qt::Key_E);
        QVERIFY(!std::filesystem::exists(rig / "b.jpg"));
        QVERIFY(std::filesystem::exists(rig / "$b.jpg"));
        QCOMPARE(rig.Shown(), std::string("$b.jpg"));
        QVERIFY(rig.viewer->PaintSource() != nullptr);
        QCOMPARE(rig.viewer->notice().text, std::string("Encrypted"));
        QCOMPARE(rig.Title(), QString("$b.jpg"));
        QCOMPARE(rig.session->FileList().size(), std::size_t{2});

        // Nor has E on a container.
        const auto listing = Listing(rig.pictures.path());
        rig.viewer->ShowNotice("-", 5000);
        rig.Key(Qt::Key_E);
        QCOMPARE(rig.viewer->notice().text, std::string("-"));
        QCOMPARE(Listing(rig.pictures.path()), listing);

        rig.Key(Qt::Key_D);
        QCOMPARE(rig.Shown(), std::string("b.jpg"));
        QCOMPARE(rig.Title(), QString("b.jpg"));
        QCOMPARE(quillix::test::ReadFile(rig / "b.jpg"), plain);
        QVERIFY(!std::filesystem::exists(rig / "$b.jpg"));
        QCOMPARE(rig.viewer->notice().text, std::string("Decrypted"));
        QCOMPARE(rig.dialogs.passwordPrompts, 2);
    }

    void startingWritesNoSettingsUntilOneChanges()
    {
        TempDir config;
        const std::string ini = config / "Quillix.ini";
        const std::string stored =
            "\r\nLastDir=/nowhere/\r\nScaleToFit=1\r\nFitWidth=0\r\nSORT_MODE=2\r\nTILE_SIZE=128\r\n";
        quillix::test::WriteFile(ini, stored);
        std::filesystem::last_write_time(ini, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
        const auto written = std::filesystem::last_write_time(ini);

        ScriptedDialogs dialogs;
        quillix::session::Session session(quillix::session::SessionEnvironment{&dialogs, config.path() + "/", nullptr});
        ViewerEnvironment environment;
        environment.screenSize = [] { return quillix::viewer::Size{1920, 1080}; };
        environment.quit = [](int) {};
        ViewerWindow viewer(session, std::move(environment));
        GalleryWindow gallery(session, viewer);
        viewer.setGallery(&gallery);
        QCOMPARE(std::filesystem::last_write_time(ini), written);
        QCOMPARE(quillix::test::ReadText(ini), stored);

        QVERIFY(gallery.Model().CycleSortMode({}));
        QVERIFY(quillix::test::ReadText(ini).find("SORT_MODE=3") != std::string::npos);
        viewer.setGallery(nullptr);
    }

    void eEncryptsOnlyUnderAKnownGoodPassword()
    {
        using quillix::PasswordPrompt;
        Rig rig;
        WriteJpeg(rig / "a.jpg");
        WriteJpeg(rig / "b.jpg");
        WriteJpeg(rig / "c.jpg");
        EncryptInPlace(rig / "c.jpg", kPassword);
        rig.Open("a.jpg");

        // A password typed once (with a typo) is asked again; the repetition differs, so both
        // fields are asked for.
        rig.dialogs.passwords = {std::string("quilix"), std::string(kPassword), std::string(kPassword)};
        rig.Key(Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        rig.Key(Qt::Key_E);
        QCOMPARE(rig.dialogs.passwordRequests,
                 (std::vector{PasswordPrompt::Enter, PasswordPrompt::Repeat, PasswordPrompt::EnterTwice}));
        QCOMPARE(rig.dialogs.passwordNotices.back(), std::string(quillix::container::kPasswordsDifferNotice));
        QCOMPARE(rig.Shown(), std::string("$a.jpg"));
        QCOMPARE(rig.viewer->notice().text, std::string("Encrypted"));
        quillix::crypto::SecureBytes stream;
        QVERIFY(quillix::container::DecryptToStream(rig / "$a.jpg", kPassword, true, stream));

        // A password that has just shown a container is good for encrypting at once.
        rig.dialogs.passwords = {std::string(kPassword)};
        rig.Key(Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        rig.Show("$c.jpg");
        QVERIFY(rig.viewer->PaintSource() != nullptr);
        rig.Show("b.jpg");
        rig.Key(Qt::Key_E);
        QCOMPARE(rig.dialogs.passwordPrompts, 4);
        QCOMPARE(rig.Shown(), std::string("$b.jpg"));
    }

    // Another file of the container's name is never replaced: the viewer says why nothing changed.
    void anExistingContainerIsNeverReplaced()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg");
        quillix::test::WriteFile(rig / "$a.jpg", "another picture");
        const std::vector<std::uint8_t> plain = quillix::test::ReadFile(rig / "a.jpg");
        rig.Open("a.jpg");
        rig.dialogs.passwords = {std::string(kPassword), std::string(kPassword)};
        rig.Key(Qt::Key_E);
        QCOMPARE(rig.Shown(), std::string("a.jpg"));
        QCOMPARE(rig.dialogs.messages.back().caption, std::string("Warning"));
        QCOMPARE(rig.dialogs.messages.back().text, (rig / "$a.jpg") + " already exists and holds something else; it "
                                                                      "was left as it is, and so was a.jpg");
        QCOMPARE(rig.dialogs.messages.back().icon, MessageIcon::Warning);
        QCOMPARE(quillix::test::ReadFile(rig / "a.jpg"), plain);
        QCOMPARE(quillix::test::ReadText(rig / "$a.jpg"), std::string("another picture"));
    }

    void anEncryptedPictureWaitsForThePassword()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg");
        EncryptInPlace(rig / "a.jpg", kPassword);
        rig.Open("$a.jpg");
        // The lock screen: the padlock and one line saying what to do, and no error.
        QVERIFY(rig.viewer->Locked());
        QCOMPARE(rig.viewer->notice().text, std::string("Encrypted picture: press Ctrl+Shift+P to type the password"));
        QCOMPARE(rig.viewer->notice().deadline, std::uint64_t{0});
        QCOMPARE(rig.viewer->zoomStatus().text, std::string("$a.jpg"));
        QCOMPARE(rig.viewer->windowTitle(), QString("$a.jpg"));
        QVERIFY(rig.viewer->PaintSource() == nullptr);
        QCOMPARE(rig.dialogs.passwordPrompts, 0);

        // The picture is reloaded once the refresh timer fires, and shown once the pool is done.
        const auto reloaded = [&rig] {
            QSignalSpy fired(rig.viewer->refreshTimer, &QTimer::timeout);
            QVERIFY(fired.wait(20000));
            rig.Settle();
        };
        rig.dialogs.passwords = {std::string(kPassword)};
        QTest::keyClick(rig.viewer.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(rig.dialogs.passwordPrompts, 1);
        QVERIFY(rig.viewer->refreshTimer->isActive());
        QCOMPARE(rig.viewer->refreshTimer->interval(), 277);
        QVERIFY(rig.viewer->PaintSource() == nullptr);
        reloaded();
        QVERIFY(rig.viewer->PaintSource() != nullptr);
        QVERIFY(!rig.viewer->Locked());
        QVERIFY(rig.viewer->notice().text.empty());

        // Forgetting the password locks the shown picture at once.
        rig.dialogs.passwords.clear();
        QTest::keyClick(rig.viewer.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(rig.viewer->Locked());
        QVERIFY(rig.viewer->PaintSource() == nullptr);
        QCOMPARE(rig.viewer->notice().text, std::string("Encrypted picture: press Ctrl+Shift+P to type the password"));

        // A wrong password is told apart from a missing one.
        rig.dialogs.passwords = {std::string("wrong")};
        QTest::keyClick(rig.viewer.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        reloaded();
        QVERIFY(rig.viewer->Locked());
        QCOMPARE(rig.viewer->notice().text, std::string("The password does not open this picture"));
        QCOMPARE(rig.viewer->zoomStatus().text, std::string("$a.jpg"));
        QVERIFY(rig.viewer->PaintSource() == nullptr);
        // Rotating a container is refused on screen.
        rig.Key(Qt::Key_R);
        QCOMPARE(rig.viewer->notice().text, std::string("Encrypted files cannot be rotated"));
    }

    void failuresAreReportedOnScreenAndKeysStillWork()
    {
        Rig rig;
        quillix::test::WriteFile(rig / "broken.png", std::string("not a picture at all"));
        // A JPEG under a PNG name is shown by its content.
        WriteJpeg(rig / "really-jpeg.png");
        rig.dialogs.passwords = {std::string(kPassword)};
        rig.session->Crypto().EnsurePassword(false);

        rig.Open("broken.png");
        QVERIFY(!rig.viewer->notice().text.empty());
        QCOMPARE(rig.viewer->zoomStatus().text, std::string("broken.png - Fehler"));
        rig.Key(Qt::Key_Right);
        QCOMPARE(rig.Shown(), std::string("really-jpeg.png"));
        QVERIFY(rig.viewer->PaintSource() != nullptr);
        QVERIFY(rig.viewer->notice().text.empty());

        // What each kind of failure says.
        WriteJpeg(rig / "x.tga");
        EncryptInPlace(rig / "x.tga", kPassword);
        quillix::test::WriteFile(rig / "bad.webp", std::string("RIFF....WEBPVP8 nothing"));
        quillix::test::WriteFile(rig / "$bad.webp", std::string("not a container"));
        quillix::test::WriteFile(rig / "$bad.jpg", std::string("not a container"));
        quillix::test::WriteFile(rig / "sealed.webp", ValueOrThrow(quillix::imaging::EncodeJpeg(Filled(8, 8, 0), 90)));
        EncryptInPlace(rig / "sealed.webp", kPassword);
        struct Failure {
            const char* name;
            const char* notice;
        };
        const Failure failures[] = {
            {"$x.tga", "Encrypted format not supported."},
            {"bad.webp", "WEBP decode failed (libwebp*.dll/Loader?)"},
            {"$bad.webp", "Decrypt failed (wrong password or file corrupt)."},
            {"$bad.jpg", "Decrypt failed (file error)."},
            {"$sealed.webp", "WEBP decode failed"},
        };
        for (const Failure& failure : failures) {
            rig.Show(failure.name);
            QCOMPARE(rig.viewer->notice().text, std::string(failure.notice));
            QCOMPARE(rig.viewer->zoomStatus().text, std::string(failure.name) + " - Fehler");
            QVERIFY(rig.viewer->PaintSource() == nullptr);
            QVERIFY(!rig.viewer->Locked());
        }
    }

    void zoomFollowsTheWheelAndTheFit()
    {
        Rig rig;
        WriteJpeg(rig / "big.jpg", 4000, 3000);
        WriteJpeg(rig / "tiny.jpg", 10, 10);
        rig.Open("big.jpg");
        QCOMPARE(Percent(*rig.viewer), 36);
        QCOMPARE(rig.viewer->zoomStatus().text, std::string("big.jpg - 36%"));

        rig.Open("tiny.jpg");
        QCOMPARE(rig.viewer->zoomState().Zoom, 50.0);
        QCOMPARE(rig.viewer->PaintSource()->size(), QSize(10, 10));

        rig.session->Options().ScaleToFit = false;
        rig.Open("big.jpg");
        QCOMPARE(Percent(*rig.viewer), 100);
        SendWheel(*rig.viewer, 120, Qt::ControlModifier);
        QCOMPARE(Percent(*rig.viewer), 100);
        struct Turn {
            int delta;
            int percent;
        };
        // Ctrl turns the wheel into zoom; towards the user enlarges.
        const Turn turns[] = {{-120, 105}, {120, 100}, {-120, 105}};
        for (const Turn& turn : turns) {
            SendWheel(*rig.viewer, turn.delta, Qt::ControlModifier);
            QCOMPARE(Percent(*rig.viewer), turn.percent);
        }
        for (int i = 0; i < 60; ++i)
            SendWheel(*rig.viewer, -120, Qt::ShiftModifier);
        QCOMPARE(Percent(*rig.viewer), 5000);
        QVERIFY(rig.viewer->Pannable());

        // The right button resets to the fit and, under the default wheel option, toggles zoom.
        QTest::mouseClick(rig.viewer.get(), Qt::RightButton, {}, QPoint(300, 300));
        QCOMPARE(Percent(*rig.viewer), 100);
        QVERIFY(rig.viewer->WheelToggle);
        QCOMPARE(rig.viewer->notice().text, std::string("Zoom"));
        SendWheel(*rig.viewer, -120);
        QCOMPARE(Percent(*rig.viewer), 105);
        QCOMPARE(rig.Shown(), std::string("big.jpg"));
        QTest::mouseClick(rig.viewer.get(), Qt::RightButton, {}, QPoint(300, 300));
        QCOMPARE(rig.viewer->notice().text, std::string("Fwd/Bwd"));
    }

    void dragPansWithinTheOverhang()
    {
        Rig rig;
        rig.session->Options().ScaleToFit = false;
        WriteJpeg(rig / "wide.jpg", 3000, 200);
        rig.Open("wide.jpg");
        QVERIFY(rig.viewer->Pannable());
        const int middle = rig.viewer->width() / 2;
        QTest::mousePress(rig.viewer.get(), Qt::LeftButton, {}, QPoint(middle, 100));
        QVERIFY(rig.viewer->dragging());
        QTest::mouseMove(rig.viewer.get(), QPoint(middle + 100, 150));
        QMouseEvent move(QEvent::MouseMove, QPointF(middle + 100, 150),
                         rig.viewer->mapToGlobal(QPointF(middle + 100, 150)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(rig.viewer.get(), &move);
        QCOMPARE(rig.viewer->zoomState().PanX, 100);
        QCOMPARE(rig.viewer->zoomState().PanY, 0);  // the height fits: no vertical pan
        QTest::mouseRelease(rig.viewer.get(), Qt::LeftButton, {}, QPoint(middle + 100, 150));
        QVERIFY(!rig.viewer->dragging());
    }

    void speedPauseAndRotate()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg", 40, 20);
        quillix::test::WriteFile(rig / "anim.gif", AnimatedGif());
        quillix::test::WriteFile(rig / "anim.webp", AnimatedWebP());
        rig.Open("a.jpg");

        const double before = rig.viewer->Player().Speed();
        rig.Key(Qt::Key_F);
        QCOMPARE(rig.viewer->notice().text, std::string(before == 0.5 ? "Fast" : "Slow"));
        rig.Key(Qt::Key_S);
        QCOMPARE(rig.viewer->Player().Speed(), before);
        // Space acts only on a playing animated WebP.
        rig.viewer->ShowNotice("-", 5000);
        rig.Key(Qt::Key_Space);
        QCOMPARE(rig.viewer->notice().text, std::string("-"));

        rig.Key(Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(rig.viewer->notice().text, std::string("Rotated"));
        QCOMPARE(rig.viewer->PaintSource()->size(), QSize(20, 40));

        rig.Show("anim.gif");
        QVERIFY(rig.viewer->GifActive);
        QTRY_COMPARE_WITH_TIMEOUT(rig.viewer->gifFrame(), 1, 20000);

        rig.Show("anim.webp");
        QVERIFY(rig.viewer->WebPMode);
        QVERIFY(rig.viewer->Player().playing());
        // Frames after the first are decoded on the viewer's pool and still advance.
        QCOMPARE(rig.viewer->Player().pool(), &rig.session->Pool());
        const qint64 firstFrame = rig.viewer->Player().frame().cacheKey();
        QTRY_VERIFY_WITH_TIMEOUT(rig.viewer->Player().frame().cacheKey() != firstFrame, 20000);
        rig.Key(Qt::Key_Space);
        QCOMPARE(rig.viewer->notice().text, std::string("Paused"));
        QVERIFY(rig.viewer->Player().paused());
        rig.Key(Qt::Key_Space);
        QCOMPARE(rig.viewer->notice().text, std::string("Playing"));
        // Leaving the animation stops the player.
        rig.Key(Qt::Key_Left);
        QCOMPARE(rig.Shown(), std::string("anim.gif"));
        QVERIFY(!rig.viewer->Player().playing());
        QVERIFY(!rig.viewer->WebPMode);

        // A GIF has no turn and says so only on screen; an animated WebP is refused in a box too.
        const std::size_t boxes = rig.dialogs.messages.size();
        rig.Key(Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(rig.viewer->notice().text, std::string("Rotate failed"));
        QCOMPARE(rig.dialogs.messages.size(), boxes);
        rig.Show("anim.webp");
        rig.Key(Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(rig.viewer->notice().text, std::string("Rotate failed"));
        QCOMPARE(rig.dialogs.messages.size(), boxes + 1);
        QCOMPARE(rig.dialogs.messages.back().caption, std::string("Rotate WebP"));
        QCOMPARE(rig.dialogs.messages.back().text,
                 std::string("Rotation of animated WebP images is not implemented yet."));
    }

    void phoneAndCameraFormatsTellWhatTheyAre()
    {
        Rig rig;
        quillix::test::TiffPlan scan;
        scan.pages.resize(2);
        for (quillix::test::TiffPage& page : scan.pages)
            page.picture = Filled(40, 20, qRgb(200, 0, 0));
        quillix::test::WriteFile(rig / "scan.tif", quillix::test::TiffFixture(scan));
        quillix::test::HeifPlan photo;
        photo.picture = Filled(40, 20, qRgb(0, 0, 200));
        const std::vector<std::uint8_t> heic = quillix::test::EncodeHeif(photo);
        quillix::test::WriteFile(rig / "photo.heic", heic);

        rig.Open("scan.tif");
        QCOMPARE(rig.viewer->notice().text, std::string("page 1 of 2"));
        QCOMPARE(rig.viewer->PaintSource()->size(), QSize(40, 20));
        rig.Key(Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(rig.viewer->PaintSource()->size(), QSize(20, 40));

        // A turn that would lose something is refused on screen, with no box, the file as it was.
        rig.Show("photo.heic");
        QCOMPARE(rig.viewer->PaintSource()->size(), QSize(40, 20));
        const std::size_t boxes = rig.dialogs.messages.size();
        rig.Key(Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(rig.viewer->notice().text,
                 std::string("photo.heic was not turned: HEIF pictures cannot be turned without loss. The file is "
                             "unchanged."));
        QCOMPARE(rig.dialogs.messages.size(), boxes);
        QVERIFY(quillix::test::ReadFile(rig / "photo.heic") == heic);
    }

    void clipboardTakesTheShownFile()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg");
        WriteJpeg(rig / "b.jpg");
        rig.Open("b.jpg");
        rig.Key(Qt::Key_X, Qt::ControlModifier);
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data);
        QCOMPARE(data->urls(), QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(rig / "b.jpg"))});
        QVERIFY(data->hasFormat("application/x-quillix-cut"));
        QCOMPARE(rig.gallery->StatusMessage(), std::string("Copied 1 files"));
        // C without Ctrl is no clipboard key.
        QGuiApplication::clipboard()->clear();
        rig.Key(Qt::Key_C);
        const QMimeData* after = QGuiApplication::clipboard()->mimeData();
        QVERIFY(!after || !after->hasUrls());
    }

    void paintsThePictureCentredOnBlackWithItsOverlays()
    {
        Rig rig;
        rig.session->Options().ScaleToFit = false;
        WriteJpeg(rig / "a.jpg", 64, 48);
        rig.Open("a.jpg");
        rig.viewer->ShowNotice("Renamed & saved", 5000);
        const QImage shot = rig.viewer->grab().toImage();
        if (!qEnvironmentVariableIsEmpty("QUILLIX_SAVE_SHOTS")) shot.save(qEnvironmentVariable("QUILLIX_SAVE_SHOTS"));
        const QPoint centre(shot.width() / 2, shot.height() / 2);
        QVERIFY(Near(shot.pixel(centre.x() - 31, centre.y() - 23), qRgb(200, 80, 40)));
        QCOMPARE(shot.pixel(centre.x() - 33, centre.y() - 20), qRgb(0, 0, 0));
        QCOMPARE(shot.pixel(centre.x(), centre.y() - 26), qRgb(0, 0, 0));
        QCOMPARE(shot.pixel(0, 0), qRgb(0, 0, 0));
        // The notice is white text in the middle band; the zoom status sits near the bottom.
        const auto whiteIn = [&](int top, int bottom) {
            for (int y = top; y < bottom; ++y)
                for (int x = 0; x < shot.width(); ++x)
                    if (shot.pixel(x, y) == qRgb(255, 255, 255)) return true;
            return false;
        };
        QVERIFY(whiteIn(shot.height() / 2 - 120, shot.height() / 2 + 120));
        QVERIFY(whiteIn(shot.height() - 40, shot.height()));
        QVERIFY(!whiteIn(0, shot.height() / 2 - 120));
    }

    void reloadReadsTheFileAgain()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg", 40, 30);
        rig.Open("a.jpg");
        WriteJpeg(rig / "a.jpg", 60, 30);
        rig.Key(Qt::Key_F5);
        QCOMPARE(rig.viewer->PaintSource()->size(), QSize(60, 30));
        // The middle button does nothing.
        const quillix::viewer::ZoomState before = rig.viewer->zoomState();
        QTest::mouseClick(rig.viewer.get(), Qt::MiddleButton, {}, QPoint(10, 10));
        QCOMPARE(rig.Shown(), std::string("a.jpg"));
        QCOMPARE(rig.viewer->zoomState().Zoom, before.Zoom);
    }

    void realDialogsAnswerRenameAndDelete()
    {
        quillix::platform::QtDialogs real;
        Rig rig(&real);
        WriteJpeg(rig / "a.jpg");
        WriteJpeg(rig / "b.jpg");
        rig.Open("a.jpg");

        WhenShown<QInputDialog>([](QInputDialog* box) {
            QCOMPARE(box->windowTitle(), QString("Rename"));
            QCOMPARE(box->labelText(), QString("New filename:"));
            QCOMPARE(box->textValue(), QString("a.jpg"));
            box->setTextValue("c.jpg");
            box->accept();
        });
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.Shown(), std::string("c.jpg"));

        WhenShown<QMessageBox>([&rig](QMessageBox* box) {
            QCOMPARE(box->windowTitle(), QString("Confirm delete"));
            QCOMPARE(box->text(), QString::fromStdString("Delete file?\n\n" + (rig / "c.jpg")));
            QCOMPARE(box->icon(), QMessageBox::Question);
            box->button(QMessageBox::Yes)->click();
        });
        rig.Key(Qt::Key_Delete);
        QVERIFY(!std::filesystem::exists(rig / "c.jpg"));
        QCOMPARE(rig.Shown(), std::string("b.jpg"));
    }

    void showingEncryptedPicturesWritesNothing()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg");
        quillix::test::WriteFile(rig / "b.png",
                                 ValueOrThrow(quillix::imaging::EncodePng(Filled(30, 20, qRgb(1, 2, 3)))));
        quillix::test::WriteFile(rig / "c.gif", AnimatedGif());
        quillix::test::WriteFile(rig / "d.webp",
                                 ValueOrThrow(quillix::imaging::EncodeStillWebP(Filled(30, 20, qRgb(9, 9, 9)))));
        quillix::test::WriteFile(rig / "e.webp", AnimatedWebP());
        for (const char* name : {"a.jpg", "b.png", "c.gif", "d.webp", "e.webp"})
            EncryptInPlace(rig / name, kPassword);
        rig.dialogs.passwords = {std::string(kPassword)};
        rig.session->Crypto().EnsurePassword(false);

        const auto before = Listing(rig.pictures.path());
        for (const char* name : {"$a.jpg", "$b.png", "$c.gif", "$d.webp", "$e.webp"}) {
            rig.Open(name);
            QVERIFY2(rig.viewer->PaintSource() != nullptr, name);
            QVERIFY2(rig.viewer->notice().text.empty(), rig.viewer->notice().text.c_str());
            QCOMPARE(Listing(rig.pictures.path()), before);
        }
        // The animation plays its passes from memory.
        QVERIFY(rig.viewer->Player().playing());
        QTRY_VERIFY_WITH_TIMEOUT(rig.viewer->Player().passesDone() >= 2, 20000);
        rig.Settle();
        QCOMPARE(Listing(rig.pictures.path()), before);
        rig.Key(Qt::Key_Escape);
        rig.viewer->close();
        QCOMPARE(Listing(rig.pictures.path()), before);
    }
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    ViewerWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "viewer_window_test.moc"
