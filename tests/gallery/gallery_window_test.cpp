#include "common/paths.h"
#include "container/file_ops.h"
#include "gallery/delete_dialog.h"
#include "gallery/gallery_window.h"
#include "gallery/status_panels.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "platform/clipboard.h"
#include "platform/privacy.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/when_shown.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>

#include <sys/stat.h>

#include <filesystem>
#include <memory>

using quillix::MessageAnswer;
using quillix::gallery::GalleryWindow;
using quillix::gallery::ThumbnailKind;
using quillix::test::ScriptedDialogs;
using quillix::test::TempDir;
using quillix::viewer::ViewerEnvironment;
using quillix::viewer::ViewerWindow;

namespace {

constexpr const char* kPassword = "quillix";

QImage Filled(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

void WriteJpeg(const std::string& path, int width, int height, QRgb colour = qRgb(200, 80, 40))
{
    quillix::test::WriteFile(path, quillix::imaging::EncodeJpeg(Filled(width, height, colour), 90).value());
}

void WritePng(const std::string& path, int width, int height, QRgb colour = qRgb(40, 160, 90))
{
    quillix::test::WriteFile(path, quillix::imaging::EncodePng(Filled(width, height, colour)).value());
}

void EncryptInPlace(const std::string& path)
{
    quillix::container::FileOptions options;
    options.Passes = 0;
    if (!quillix::container::EncryptToContainer(path, kPassword, options)) qFatal("encrypting a fixture failed");
    std::filesystem::remove(path);
}

// A viewer and its gallery over a temporary picture folder, with scripted dialogs, the settings
// file in a folder of its own, and thumbnails made on a pool of their own.
struct Rig {
    TempDir pictures;
    TempDir config;
    ScriptedDialogs dialogs;
    std::unique_ptr<ViewerWindow> viewer;
    std::unique_ptr<GalleryWindow> gallery;
    std::unique_ptr<quillix::workers::WorkerPool> pool;
    // The keyboard state the window reads as held.
    Qt::KeyboardModifiers held = Qt::NoModifier;

    Rig()
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
        ViewerEnvironment environment;
        environment.dialogs = &dialogs;
        environment.iniDir = config.path() + "/";
        environment.screenSize = [] { return quillix::viewer::Size{1920, 1080}; };
        environment.quit = [](int) {};
        viewer = std::make_unique<ViewerWindow>(std::move(environment));
        viewer->Options().SortMode = 1;  // by name
        gallery = std::make_unique<GalleryWindow>(*viewer);
        viewer->setGallery(gallery.get());
        pool = std::make_unique<quillix::workers::WorkerPool>(2);
        gallery->setWorkerPool(pool.get());
        gallery->setHeldModifiers([this] { return held; });
    }
    ~Rig()
    {
        pool->Shutdown();
        viewer->setGallery(nullptr);
        gallery.reset();
        viewer.reset();
    }

    std::string operator/(const std::string& name) const { return pictures / name; }

    // The gallery shown at the picture folder, 1000 × 700.
    void Show()
    {
        gallery->Model().OpenFolder(pictures.path() + "/");
        gallery->resize(1000, 700);
        gallery->show();
        QVERIFY(QTest::qWaitForWindowExposed(gallery.get()));
    }
    void WaitForThumbnails()
    {
        QVERIFY(QTest::qWaitFor([this] { return gallery->ThumbnailsComplete(); }, 20000));
    }
    int Index(const std::string& name) const { return gallery->Model().IndexOfFile(pictures / name); }
    QWidget* Canvas() const { return reinterpret_cast<QWidget*>(gallery->canvas()); }
    // The centre of tile `index`'s square, in canvas coordinates.
    QPoint TileCentre(int index) const
    {
        const quillix::gallery::Rect r = quillix::gallery::TileRect(gallery->Layout(), index);
        return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    std::vector<int> Selected() const { return gallery->Model().SelectedIndices; }
    std::vector<std::string> SelectedNames() const
    {
        std::vector<std::string> names;
        for (const int i : gallery->Model().SelectedIndices)
            names.push_back(quillix::FileNameOf(gallery->Model().Files()[static_cast<std::size_t>(i)]));
        return names;
    }
    void Select(const std::vector<std::string>& names)
    {
        gallery->Model().SelectedIndices.clear();
        for (const std::string& name : names)
            gallery->Model().SelectedIndices.push_back(Index(name));
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        held = modifiers;
        QTest::keyClick(gallery.get(), static_cast<Qt::Key>(key), modifiers);
        held = Qt::NoModifier;
    }
    // Drives the event loop until `runs` batch runs have finished.
    bool WaitForRuns(int runs)
    {
        return QTest::qWaitFor([this, runs] { return gallery->FinishedBatchRuns() >= runs; }, 30000);
    }
    std::set<std::string> Names() const { return quillix::test::FileNames(pictures); }
    std::string Status() const { return gallery->StatusMessage(); }
};

// Clicks the button of the "Delete files" dialog with `text` once it is shown, after checking its
// question.
void AnswerDeleteDialog(const QString& button, const QString& question)
{
    quillix::test::WhenShown<quillix::gallery::DeleteFilesDialog>(
        [button, question](quillix::gallery::DeleteFilesDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Delete files"));
            QCOMPARE(dialog->findChild<QLabel*>()->text(), question);
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->text() == button) b->click();
        });
}

void SendWheel(QWidget& widget, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPointF position(widget.width() / 2.0, widget.height() / 2.0);
    QWheelEvent event(position, widget.mapToGlobal(position), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&widget, &event);
}

}  // namespace

class GalleryWindowTest : public QObject {
    Q_OBJECT

private slots:
    void titleCountsTheListAndFollowsFolderChanges()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "c.png"})
            WriteJpeg(rig / name, 20, 20);
        std::filesystem::create_directory(rig / "sub");
        WriteJpeg(rig / "sub/d.jpg", 20, 20);
        rig.Show();
        QCOMPARE(rig.gallery->windowTitle(),
                 QString::fromStdString("3 Images - Quillix - " + rig.pictures.path() + "/"));

        rig.gallery->Model().OpenFolder(rig / "sub/");
        QCOMPARE(rig.gallery->windowTitle(), QString::fromStdString("1 Images - Quillix - " + (rig / "sub/")));
        rig.gallery->FolderUp();
        QCOMPARE(rig.gallery->windowTitle(),
                 QString::fromStdString("3 Images - Quillix - " + rig.pictures.path() + "/"));
        QCOMPARE(rig.gallery->folderEdit()->text(), QString::fromStdString(rig.pictures.path() + "/"));
    }

    void thumbnailsHaveTheWellSizeAndPaintAtTheirOffsets()
    {
        Rig rig;
        WriteJpeg(rig / "wide.jpg", 1000, 500, qRgb(255, 0, 0));
        WritePng(rig / "small.png", 50, 50);
        quillix::test::WriteFile(rig / "broken.jpg", std::string("not a picture"));
        rig.Show();
        rig.WaitForThumbnails();
        QCOMPARE(rig.gallery->Layout().TileSize, 128);

        const int wide = rig.Index("wide.jpg");
        QCOMPARE(rig.gallery->ThumbnailAt(wide)->size(), QSize(104, 52));
        QCOMPARE(rig.gallery->ThumbnailAt(rig.Index("small.png"))->size(), QSize(104, 104));
        QVERIFY(rig.gallery->ThumbnailAt(rig.Index("broken.jpg")) == nullptr);
        QCOMPARE(rig.gallery->ThumbnailKindAt(rig.Index("broken.jpg")), ThumbnailKind::None);

        // Drawn 100 × 48, 2 pixels in from the well's sides and 28 from its top.
        const QImage shot = rig.Canvas()->grab().toImage();
        const quillix::gallery::Rect well = quillix::gallery::WellRect(rig.gallery->Layout(), wide);
        const auto isRed = [&shot](int x, int y) {
            const QColor c = shot.pixelColor(x, y);
            return c.red() > 200 && c.green() < 60 && c.blue() < 60;
        };
        QVERIFY(isRed(well.left + 2, well.top + 28));
        QVERIFY(isRed(well.left + 101, well.top + 75));
        QVERIFY(!isRed(well.left + 1, well.top + 28));
        QVERIFY(!isRed(well.left + 2, well.top + 27));
        QVERIFY(!isRed(well.left + 102, well.top + 75));
        QVERIFY(!isRed(well.left + 101, well.top + 76));
    }

    void encryptedThumbnailsWaitForTheRightPasswordAndARefresh()
    {
        Rig rig;
        WriteJpeg(rig / "plain.jpg", 64, 32);
        WritePng(rig / "secret.png", 64, 32);
        EncryptInPlace(rig / "secret.png");
        rig.Show();
        rig.WaitForThumbnails();
        const int secret = rig.Index("$secret.png");
        QCOMPARE(rig.gallery->ThumbnailKindAt(secret), ThumbnailKind::Placeholder);
        QCOMPARE(rig.gallery->ThumbnailAt(secret)->size(), QSize(104, 104));

        // A wrong password still gives the placeholder.
        rig.dialogs.passwords = {"wrong"};
        QVERIFY(rig.viewer->Crypto().EnsurePassword(false));
        rig.gallery->RefreshGallery();
        rig.WaitForThumbnails();
        QCOMPARE(rig.gallery->ThumbnailKindAt(secret), ThumbnailKind::Placeholder);

        // The right one shows the picture, but only after the list is rebuilt.
        rig.viewer->Crypto().ClearPassword();
        rig.dialogs.passwords = {kPassword};
        QVERIFY(rig.viewer->Crypto().EnsurePassword(false));
        QCOMPARE(rig.gallery->ThumbnailKindAt(secret), ThumbnailKind::Placeholder);
        rig.gallery->RefreshGallery();
        rig.WaitForThumbnails();
        QCOMPARE(rig.gallery->ThumbnailKindAt(secret), ThumbnailKind::Picture);
        QCOMPARE(rig.gallery->ThumbnailAt(secret)->size(), QSize(104, 52));
    }

    void aNewFolderDropsTheOldFoldersThumbnails()
    {
        Rig rig;
        for (int i = 0; i < 12; ++i)
            WriteJpeg(rig / ("old" + std::to_string(i) + ".jpg"), 1600, 1200, qRgb(255, 0, 0));
        std::filesystem::create_directory(rig / "other");
        for (int i = 0; i < 3; ++i)
            WritePng(rig / ("other/new" + std::to_string(i) + ".png"), 30, 60, qRgb(0, 0, 255));
        rig.Show();
        // Straight away, while the first folder's thumbnails are still being made.
        rig.gallery->Model().OpenFolder(rig / "other/");
        rig.WaitForThumbnails();
        QCOMPARE(rig.gallery->Model().Count(), 3);
        for (int i = 0; i < 3; ++i) {
            const QPixmap* thumbnail = rig.gallery->ThumbnailAt(i);
            QVERIFY(thumbnail);
            QCOMPARE(thumbnail->size(), QSize(52, 104));
            QCOMPARE(thumbnail->toImage().pixelColor(20, 50).blue(), 255);
        }
    }

    void clicksAndABandSelect()
    {
        Rig rig;
        for (int i = 0; i < 12; ++i)
            WriteJpeg(rig / ("p" + std::to_string(i < 10 ? 0 : 1) + std::to_string(i % 10) + ".jpg"), 16, 16);
        rig.Show();
        QWidget* canvas = rig.Canvas();
        QTest::mouseClick(canvas, Qt::LeftButton, {}, rig.TileCentre(3));
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::ShiftModifier, rig.TileCentre(7));
        QCOMPARE(rig.Selected(), (std::vector<int>{3, 4, 5, 6, 7}));
        QCOMPARE(rig.gallery->Model().CurrentIndex, 7);
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::ControlModifier, rig.TileCentre(5));
        QCOMPARE(rig.Selected(), (std::vector<int>{3, 4, 6, 7}));
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::ShiftModifier, rig.TileCentre(9));
        QCOMPARE(rig.Selected(), (std::vector<int>{5, 6, 7, 8, 9}));

        // A drag from tile 0's centre to tile 1's selects both, whatever was selected.
        QTest::mousePress(canvas, Qt::LeftButton, {}, rig.TileCentre(0));
        QTest::mouseMove(canvas, rig.TileCentre(0) + QPoint(10, 10));
        QTest::mouseMove(canvas, rig.TileCentre(1) + QPoint(0, 10));
        QVERIFY(rig.gallery->pointer().RubberBandActive);
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, rig.TileCentre(1) + QPoint(0, 10));
        QCOMPARE(rig.Selected(), (std::vector<int>{0, 1}));
        QVERIFY(!rig.gallery->pointer().RubberBandActive);

        // A click on empty space clears the selection and the current tile.
        QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(rig.Selected().empty());
        QCOMPARE(rig.gallery->Model().CurrentIndex, -1);

        // Keys: Ctrl+A, then Right moves and selects one.
        rig.Key(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(rig.Selected().size(), std::size_t{12});
        QTest::keyClick(rig.gallery.get(), Qt::Key_Right);
        QCOMPARE(rig.Selected(), (std::vector<int>{1}));
    }

    void ctrlWheelStepsTheTileSizeAndStops()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg", 16, 16);
        rig.viewer->AppSettings().PushInt("TILE_SIZE", 496);
        rig.viewer->SaveSettings();
        rig.Show();
        QCOMPARE(rig.gallery->Layout().TileSize, 496);
        QWidget* viewport = rig.gallery->scrollArea()->viewport();
        for (const int expected : {512, 512}) {
            SendWheel(*viewport, -120, Qt::ControlModifier);
            QCOMPARE(rig.gallery->Layout().TileSize, expected);
        }
        QCOMPARE(rig.viewer->AppSettings().PopInt("TILE_SIZE", 0), 512);
        SendWheel(*viewport, 120, Qt::ShiftModifier);
        QCOMPARE(rig.gallery->Layout().TileSize, 496);
    }

    void aTileFarDownATallCanvasIsHit()
    {
        Rig rig;
        for (int i = 0; i < 260; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "f%03d.jpg", i);
            quillix::test::WriteFile(rig / name, std::string("x"));
        }
        rig.viewer->AppSettings().PushInt("TILE_SIZE", 512);
        rig.Show();
        QCOMPARE(rig.gallery->Layout().Columns, 1);
        QVERIFY(rig.Canvas()->height() > 32767);
        QScrollBar* bar = rig.gallery->scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum());
        QTest::mouseClick(rig.Canvas(), Qt::LeftButton, {}, rig.TileCentre(250));
        QCOMPARE(rig.gallery->Model().CurrentIndex, 250);
        QCOMPARE(rig.Selected(), std::vector<int>{250});
    }

    void doubleClickOpensTheViewerAndEscapeComesBack()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            WriteJpeg(rig / name, 40, 30);
        rig.viewer->StartGalleryMode();
        rig.Show();
        const QPoint b = rig.TileCentre(rig.Index("b.jpg"));
        QTest::mouseMove(rig.Canvas(), b);
        QTest::mouseDClick(rig.Canvas(), Qt::LeftButton, {}, b);
        QVERIFY(QTest::qWaitFor([&rig] { return rig.viewer->isVisible(); }));
        QVERIFY(!rig.gallery->isVisible());
        QTRY_COMPARE(rig.viewer->CurrentPath(), rig / "b.jpg");
        QTest::keyClick(rig.viewer.get(), Qt::Key_Escape);
        QVERIFY(QTest::qWaitFor([&rig] { return rig.gallery->isVisible(); }));
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "b.jpg");

        // A file stepped to in the viewer comes back current, not the tile the viewer opened on.
        QTest::keyClick(rig.gallery.get(), Qt::Key_Return);
        QVERIFY(QTest::qWaitFor([&rig] { return rig.viewer->isVisible(); }));
        QTest::keyClick(rig.viewer.get(), Qt::Key_Right);
        QTRY_COMPARE(rig.viewer->CurrentPath(), rig / "c.jpg");
        QTest::keyClick(rig.viewer.get(), Qt::Key_Escape);
        QVERIFY(QTest::qWaitFor([&rig] { return rig.gallery->isVisible(); }));
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "c.jpg");
        QCOMPARE(rig.Selected(), std::vector<int>{rig.Index("c.jpg")});
    }

    void folderDialogLeavesNoTraceInQtsSharedSettings()
    {
        Rig rig;
        quillix::platform::KeepQtSettingsPrivate();
        WriteJpeg(rig / "a.jpg", 16, 16);
        std::filesystem::create_directory(rig / "chosen");
        rig.Show();
        QTimer::singleShot(0, [&rig] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
                    QCOMPARE(dialog->windowTitle(), QStringLiteral("Choose image folder"));
                    dialog->selectFile(QString::fromStdString(rig / "chosen"));
                    QMetaObject::invokeMethod(dialog, "accept");
                }
        });
        rig.gallery->BrowseForFolder();
        QCOMPARE(rig.gallery->Model().FolderBox, rig / "chosen/");
        QVERIFY(!std::filesystem::exists(rig.config / "QtProject.conf"));
    }

    void statusPanelsShowTotalsAndTheSortLabel()
    {
        Rig rig;
        quillix::test::WriteFile(rig / "a.jpg", std::string(1048576, 'x'));
        rig.Show();
        quillix::gallery::StatusPanels* status = rig.gallery->statusPanels();
        QTRY_COMPARE(status->panelText(0), QStringLiteral("1 File / 1.00 MB"));
        QTRY_COMPARE(status->panelText(1), QStringLiteral("0 Sel. / 0.00 MB"));
        QVERIFY(!status->panelText(5).isEmpty());
    }

    void copyAndCutPutTheSelectionOnTheClipboard()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            WriteJpeg(rig / name, 16, 16);
        rig.Show();
        QGuiApplication::clipboard()->setText("nothing");
        QVERIFY(!rig.gallery->statusPanels()->clipboardShown());

        rig.Select({"c.jpg", "a.jpg", "b.jpg"});
        rig.Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(rig.Status(), std::string("Copied 3 files"));
        const quillix::platform::ClipboardFiles copied = quillix::platform::ReadFilesFromClipboard();
        QCOMPARE(copied.paths, (std::vector<std::string>{rig / "c.jpg", rig / "a.jpg", rig / "b.jpg"}));
        QVERIFY(!copied.cut);
        QVERIFY(rig.gallery->statusPanels()->clipboardShown());

        rig.Select({"b.jpg"});
        rig.Key(Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(rig.Status(), std::string("Copied 1 files"));
        QVERIFY(quillix::platform::ReadFilesFromClipboard().cut);

        // Ctrl let go by the time the key is handled: the key is taken, the clipboard stays.
        rig.Select({"a.jpg"});
        QTest::keyClick(rig.gallery.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(quillix::platform::ReadFilesFromClipboard().paths, std::vector<std::string>{rig / "b.jpg"});
        // Nothing selected: nothing copied, even with a current tile.
        rig.gallery->Model().SelectedIndices.clear();
        rig.gallery->Model().CurrentIndex = 0;
        rig.gallery->SetStatusMessage("");
        rig.Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(rig.Status(), std::string());
    }

    void pasteMovesACutHereAndSelectsThePastedFiles()
    {
        Rig rig;
        WriteJpeg(rig / "here.jpg", 16, 16);
        quillix::test::TempDir elsewhere;
        WriteJpeg(elsewhere / "x.jpg", 16, 16);
        WriteJpeg(elsewhere / "here.jpg", 16, 16, qRgb(0, 0, 250));
        rig.Show();
        QVERIFY(quillix::platform::PutFilesOnClipboard({elsewhere / "x.jpg", elsewhere / "here.jpg"}, true));
        // The conflict: No with Shift numbers the file.
        rig.dialogs.answers = {MessageAnswer::No};
        rig.Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(rig.Names(), (std::set<std::string>{"here.jpg", "here2.jpg", "x.jpg"}));
        QCOMPARE(quillix::test::FileNames(elsewhere), std::set<std::string>{});
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"x.jpg", "here2.jpg"}));
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "x.jpg");
        QCOMPARE(rig.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(rig.dialogs.messages[0].caption, std::string("File exists"));
    }

    void deleteAsksThenDeletesInARunThatEndsWithDone()
    {
        Rig rig;
        for (int i = 0; i < 10; ++i)
            quillix::test::WriteFile(rig / ("f" + std::to_string(i) + ".jpg"), std::string(1048576, 'x'));
        quillix::test::WriteFile(rig / "keep.jpg", std::string("k"));
        rig.Show();

        // A current tile without a selection deletes nothing and asks nothing.
        rig.gallery->Model().SelectedIndices.clear();
        rig.gallery->Model().CurrentIndex = 0;
        rig.Key(Qt::Key_Delete);
        QCOMPARE(rig.Names().size(), std::size_t{11});

        // Cancel keeps everything; the totals count the files that still exist.
        std::vector<std::string> ten;
        for (int i = 0; i < 10; ++i)
            ten.push_back("f" + std::to_string(i) + ".jpg");
        rig.Select(ten);
        std::filesystem::remove(rig / "f9.jpg");
        AnswerDeleteDialog("Cancel", "Really delete 9 file(s)?\nTotal size: 9.00 MB");
        rig.gallery->DeleteSelectedFiles();
        QCOMPARE(rig.Names().size(), std::size_t{10});
        QCOMPARE(rig.gallery->FinishedBatchRuns(), 0);

        // Ten results, one of them for the file that vanished, then "Done".
        std::vector<std::pair<int, std::string>> seen;
        QObject::connect(rig.gallery->statusPanels()->progress(), &QProgressBar::valueChanged,
                         [&](int value) { seen.emplace_back(value, rig.Status()); });
        AnswerDeleteDialog("Normal delete", "Really delete 9 file(s)?\nTotal size: 9.00 MB");
        rig.Key(Qt::Key_Delete);
        QVERIFY(rig.gallery->BatchActive());
        QVERIFY(rig.Selected().empty());
        // E during the run starts nothing.
        rig.dialogs.passwords = {kPassword};
        rig.Key(Qt::Key_E);
        QVERIFY(rig.WaitForRuns(1));
        QCOMPARE(rig.Names(), std::set<std::string>{"keep.jpg"});
        QCOMPARE(rig.Status(), std::string("Done"));
        QVERIFY(!rig.gallery->statusPanels()->progress()->isVisible());
        QCOMPARE(rig.gallery->Model().Count(), 1);
        std::vector<int> positions;
        for (const auto& [value, status] : seen)
            if (value > 0) positions.push_back(value);
        QCOMPARE(positions, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        // Each file is named while it is worked on: after the first result, the second file.
        QCOMPARE(seen[0].second, std::string("Del: f1.jpg"));
        QCOMPARE(seen[8].second, std::string("Del: f9.jpg"));
        QCOMPARE(seen[9].second, std::string("Del: f9.jpg"));
        // A vanished file is no failure.
        QVERIFY(rig.dialogs.messages.empty());
        QTest::qWait(50);
        QCOMPARE(rig.gallery->FinishedBatchRuns(), 1);
    }

    void encryptingThreeFilesSelectsTheirContainers()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
            WriteJpeg(rig / name, 32, 16);
        rig.viewer->Options().Passes = 1;
        rig.Show();
        rig.Select({"c.jpg", "a.jpg", "b.jpg"});
        std::vector<std::pair<int, std::string>> seen;
        QObject::connect(rig.gallery->statusPanels()->progress(), &QProgressBar::valueChanged,
                         [&](int value) { seen.emplace_back(value, rig.Status()); });

        // Cancelling the password starts nothing.
        rig.dialogs.passwords = {std::nullopt};
        rig.Key(Qt::Key_E);
        QVERIFY(!rig.gallery->BatchActive());
        QCOMPARE(rig.dialogs.passwordPrompts, 1);

        // The password is typed twice before it encrypts anything, once for the whole run.
        rig.dialogs.passwords = {kPassword};
        rig.Key(Qt::Key_E, Qt::ControlModifier);
        QVERIFY(rig.gallery->BatchActive());
        QCOMPARE(rig.dialogs.passwordPrompts, 2);
        QCOMPARE(rig.dialogs.passwordRequests.back(), quillix::PasswordPrompt::EnterTwice);
        QCOMPARE(rig.gallery->statusPanels()->progress()->maximum(), 3);
        // Forgetting the password during the run changes nothing for it.
        rig.viewer->Crypto().ClearPassword();
        QVERIFY(rig.WaitForRuns(1));
        QCOMPARE(rig.Names(), (std::set<std::string>{"$a.jpg", "$b.jpg", "$c.jpg", "d.jpg"}));
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"$c.jpg", "$a.jpg", "$b.jpg"}));
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "$c.jpg");
        QCOMPARE(rig.Status(), std::string("Done"));
        QCOMPARE(seen, (std::vector<std::pair<int, std::string>>{
                           {1, "Enc: c.jpg"}, {2, "Enc: a.jpg"}, {3, "Enc: b.jpg"}, {0, "Enc: b.jpg"}}));
        QVERIFY(rig.dialogs.messages.empty());
        QVERIFY(!rig.gallery->statusPanels()->progress()->isVisible());

        // Decrypting them back, with one that fails: its reason comes once, after "Done".
        rig.dialogs.passwords = {kPassword};
        quillix::test::WriteFile(rig / "$bad.jpg", std::string(200, 'x'));
        rig.gallery->RefreshGallery();
        rig.Select({"$a.jpg", "$bad.jpg", "$b.jpg"});
        rig.Key(Qt::Key_D);
        QVERIFY(rig.WaitForRuns(2));
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
        QCOMPARE(rig.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(rig.dialogs.messages[0].caption, std::string("Decrypt"));
        QVERIFY(rig.dialogs.messages[0].text.find("$bad.jpg: ") != std::string::npos);
    }

    void rotatingKeepsListAndSelectionAndRemakesTheThumbnails()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg", 40, 20);
        WriteJpeg(rig / "b.jpg", 40, 20);
        WriteJpeg(rig / "c.jpg", 40, 20);
        rig.Show();
        rig.WaitForThumbnails();
        rig.Select({"c.jpg", "a.jpg"});
        const int generation = rig.gallery->ThumbnailGeneration();
        rig.Key(Qt::Key_R, Qt::ShiftModifier);
        QCOMPARE(rig.gallery->CurrentBatchOperation(), quillix::gallery::BatchOperation::RotateCounterClockwise);
        QVERIFY(rig.WaitForRuns(1));
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"c.jpg", "a.jpg"}));
        QCOMPARE(rig.Status(), std::string("Rot: a.jpg"));
        QVERIFY(rig.gallery->ThumbnailGeneration() > generation);
        rig.WaitForThumbnails();
        QCOMPARE(rig.gallery->ThumbnailAt(rig.Index("a.jpg"))->size(), QSize(52, 104));
        QCOMPARE(rig.gallery->ThumbnailAt(rig.Index("b.jpg"))->size(), QSize(104, 52));

        // An encrypted file shows the rotation's own message, in the run.
        EncryptInPlace(rig / "b.jpg");
        rig.gallery->RefreshGallery();
        rig.Select({"$b.jpg"});
        rig.Key(Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(rig.gallery->CurrentBatchOperation(), quillix::gallery::BatchOperation::RotateClockwise);
        QVERIFY(rig.WaitForRuns(2));
        QCOMPARE(rig.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(rig.dialogs.messages[0].caption, std::string("Rotate"));
    }

    void f2RenamesAndPropertiesShowTheHeader()
    {
        Rig rig;
        // A JFIF file begins FF D8 FF E0 00 10: bytes 4 and 5 read as version 0 and cipher 16.
        std::string jfif = std::string("\xff\xd8\xff\xe0", 4) + std::string("\x00\x10JFIF", 6);
        jfif.resize(120, '\0');
        quillix::test::WriteFile(rig / "a.jpg", jfif);
        WriteJpeg(rig / "b.jpg", 16, 16);
        rig.Show();
        rig.Select({"a.jpg"});
        rig.gallery->Model().CurrentIndex = rig.Index("a.jpg");
        rig.gallery->ShowProperties();
        QCOMPARE(rig.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(rig.dialogs.messages[0].caption, std::string("Header"));
        QVERIFY(rig.dialogs.messages[0].text.rfind("version=0  alg=16  ", 0) == 0);

        rig.dialogs.inputs = {std::string("z.jpg")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.Names(), (std::set<std::string>{"b.jpg", "z.jpg"}));
        QCOMPARE(rig.SelectedNames(), std::vector<std::string>{"z.jpg"});
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "z.jpg");
    }

    void closingDuringARunFinishesTheFilesInFlightOnly()
    {
        Rig rig;
        for (int i = 0; i < 40; ++i)
            WriteJpeg(rig / ("p" + std::to_string(100 + i) + ".jpg"), 16, 16);
        rig.viewer->Options().Passes = 3;
        rig.Show();
        rig.Key(Qt::Key_A, Qt::ControlModifier);
        rig.dialogs.passwords = {kPassword};
        rig.Key(Qt::Key_E);
        QVERIFY(rig.gallery->BatchActive());
        rig.gallery->close();
        // Whatever was worked on is complete: each picture is there once, plain or encrypted.
        int plain = 0, encrypted = 0;
        for (const std::string& name : rig.Names()) {
            QVERIFY2(name.size() == 8 || name.size() == 9, name.c_str());
            (name[0] == '$' ? encrypted : plain) += 1;
        }
        QCOMPARE(plain + encrypted, 40);
        QVERIFY(plain > 0);
        rig.pool->WaitIdle();
        QCOMPARE(rig.Names().size(), std::size_t{40});
    }
};

QTEST_MAIN(GalleryWindowTest)
#include "gallery_window_test.moc"
