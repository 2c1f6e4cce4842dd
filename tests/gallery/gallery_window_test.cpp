#include "common/paths.h"
#include "container/file_ops.h"
#include "container/work_files.h"
#include "crypto/ciphers.h"
#include "gallery/delete_dialog.h"
#include "gallery/gallery_window.h"
#include "gallery/status_panels.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "platform/clipboard.h"
#include "platform/privacy.h"
#include "support/containers.h"
#include "support/gallery_rig.h"
#include "support/gate.h"
#include "support/picture_files.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/wheel.h"
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
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

using quillix::FileNameOf;
using quillix::MessageAnswer;
using quillix::gallery::ThumbnailKind;
using quillix::test::EncryptInPlace;
using quillix::test::HeldWorkers;
using quillix::test::ScriptedDialogs;
using quillix::test::SendWheel;
using quillix::test::TempDir;
using quillix::test::WriteJpeg;
using quillix::test::WritePng;

namespace {

constexpr const char* kPassword = "quillix";

// A viewer and its gallery over a temporary picture folder, with what these tests read.
struct Rig : quillix::test::GalleryRig<> {
    void WaitForThumbnails()
    {
        Drain();
        QVERIFY(gallery->thumbnails().Complete());
    }
    std::vector<int> Selected() const { return gallery->Model().SelectedIndices(); }
    void Select(const std::vector<std::string>& names)
    {
        gallery->Model().Select({});
        for (const std::string& name : names)
            gallery->Model().AddToSelection(Index(name));
    }
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
        QCOMPARE(rig.gallery->thumbnails().At(wide)->size(), QSize(104, 52));
        QCOMPARE(rig.gallery->thumbnails().At(rig.Index("small.png"))->size(), QSize(104, 104));
        QVERIFY(rig.gallery->thumbnails().At(rig.Index("broken.jpg")) == nullptr);
        QCOMPARE(rig.gallery->thumbnails().KindAt(rig.Index("broken.jpg")), ThumbnailKind::None);

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
        EncryptInPlace(rig / "secret.png", kPassword);
        rig.Show();
        rig.WaitForThumbnails();
        const int secret = rig.Index("$secret.png");
        QCOMPARE(rig.gallery->thumbnails().KindAt(secret), ThumbnailKind::Placeholder);
        QCOMPARE(rig.gallery->thumbnails().At(secret)->size(), QSize(104, 104));

        // A wrong password still gives the placeholder.
        rig.dialogs.passwords = {"wrong"};
        QVERIFY(rig.session->Crypto().EnsurePassword(false));
        rig.gallery->RefreshGallery();
        rig.WaitForThumbnails();
        QCOMPARE(rig.gallery->thumbnails().KindAt(secret), ThumbnailKind::Placeholder);

        // The right one shows the picture, but only after the list is rebuilt.
        rig.session->Crypto().ClearPassword();
        rig.dialogs.passwords = {kPassword};
        QVERIFY(rig.session->Crypto().EnsurePassword(false));
        QCOMPARE(rig.gallery->thumbnails().KindAt(secret), ThumbnailKind::Placeholder);
        rig.gallery->RefreshGallery();
        rig.WaitForThumbnails();
        QCOMPARE(rig.gallery->thumbnails().KindAt(secret), ThumbnailKind::Picture);
        QCOMPARE(rig.gallery->thumbnails().At(secret)->size(), QSize(104, 52));
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
            const QPixmap* thumbnail = rig.gallery->thumbnails().At(i);
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
        QCOMPARE(rig.gallery->Model().CurrentIndex(), 7);
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
        QCOMPARE(rig.gallery->Model().CurrentIndex(), -1);

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
        rig.session->AppSettings().PushInt("TILE_SIZE", 496);
        rig.session->SaveSettings();
        rig.Show();
        QCOMPARE(rig.gallery->Layout().TileSize, 496);
        QWidget* viewport = rig.gallery->scrollArea()->viewport();
        for (const int expected : {512, 512}) {
            SendWheel(*viewport, -120, Qt::ControlModifier);
            QCOMPARE(rig.gallery->Layout().TileSize, expected);
        }
        QCOMPARE(rig.session->AppSettings().GetInt("TILE_SIZE", 0), 512);
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
        rig.session->AppSettings().PushInt("TILE_SIZE", 512);
        rig.Show();
        QCOMPARE(rig.gallery->Layout().Columns, 1);
        QVERIFY(rig.Canvas()->height() > 32767);
        QScrollBar* bar = rig.gallery->scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum());
        QTest::mouseClick(rig.Canvas(), Qt::LeftButton, {}, rig.TileCentre(250));
        QCOMPARE(rig.gallery->Model().CurrentIndex(), 250);
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
        rig.Drain();
        QVERIFY(rig.viewer->isVisible());
        QVERIFY(!rig.gallery->isVisible());
        QCOMPARE(rig.viewer->CurrentPath(), rig / "b.jpg");
        QTest::keyClick(rig.viewer.get(), Qt::Key_Escape);
        rig.Drain();
        QVERIFY(rig.gallery->isVisible());
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "b.jpg");

        // A file stepped to in the viewer comes back current, not the tile the viewer opened on.
        QTest::keyClick(rig.gallery.get(), Qt::Key_Return);
        rig.Drain();
        QVERIFY(rig.viewer->isVisible());
        QTest::keyClick(rig.viewer.get(), Qt::Key_Right);
        rig.Drain();
        QCOMPARE(rig.viewer->CurrentPath(), rig / "c.jpg");
        QTest::keyClick(rig.viewer.get(), Qt::Key_Escape);
        rig.Drain();
        QVERIFY(rig.gallery->isVisible());
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "c.jpg");
        QCOMPARE(rig.Selected(), std::vector<int>{rig.Index("c.jpg")});
    }

    // Opened from the gallery, a container asks for the password once; the viewer's steps never
    // ask, and a container it cannot open shows its lock screen.
    void openingAContainerAsksOnceAndSteppingNever()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            WriteJpeg(rig / name, 40, 30);
        EncryptInPlace(rig / "a.jpg", kPassword);
        EncryptInPlace(rig / "b.jpg", kPassword);
        rig.viewer->StartGalleryMode();
        rig.Show();
        const auto back = [&rig] {
            QTest::keyClick(rig.viewer.get(), Qt::Key_Escape);
            rig.Drain();
            QVERIFY(rig.gallery->isVisible());
        };
        const auto notice = [&rig] { return rig.viewer->notice().text; };

        // A plain picture opens without a word.
        const QPoint c = rig.TileCentre(rig.Index("c.jpg"));
        QTest::mouseDClick(rig.Canvas(), Qt::LeftButton, {}, c);
        rig.Drain();
        QVERIFY(rig.viewer->isVisible());
        QCOMPARE(rig.dialogs.passwordPrompts, 0);
        back();

        // A double click on a container asks once, for the password typed once, and shows it.
        rig.dialogs.passwords = {std::string(kPassword)};
        const QPoint a = rig.TileCentre(rig.Index("$a.jpg"));
        QTest::mouseDClick(rig.Canvas(), Qt::LeftButton, {}, a);
        rig.Drain();
        QCOMPARE(rig.dialogs.passwordRequests, std::vector{quillix::PasswordPrompt::Enter});
        QVERIFY(rig.viewer->isVisible());
        QCOMPARE(rig.viewer->CurrentPath(), rig / "$a.jpg");
        QVERIFY(rig.viewer->PaintSource() != nullptr);
        QVERIFY(!rig.viewer->Locked());
        QTest::keyClick(rig.viewer.get(), Qt::Key_Right);
        rig.Drain();
        QCOMPARE(rig.viewer->CurrentPath(), rig / "$b.jpg");
        QVERIFY(rig.viewer->PaintSource() != nullptr);
        QCOMPARE(rig.dialogs.passwordPrompts, 1);
        back();

        // Enter without an answer opens the viewer on the lock screen, and steps onto containers
        // lock without asking.
        rig.session->Crypto().ClearPassword();
        QTest::keyClick(rig.gallery.get(), Qt::Key_Return);
        rig.Drain();
        QCOMPARE(rig.dialogs.passwordPrompts, 2);
        QVERIFY(rig.viewer->isVisible());
        QCOMPARE(rig.viewer->CurrentPath(), rig / "$b.jpg");
        QVERIFY(rig.viewer->Locked());
        QCOMPARE(notice(), std::string("Encrypted picture: press Ctrl+Shift+P to type the password"));
        for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Right}) {
            QTest::keyClick(rig.viewer.get(), key);
            rig.Drain();
        }
        QCOMPARE(rig.viewer->CurrentPath(), rig / "c.jpg");
        QCOMPARE(rig.dialogs.passwordPrompts, 2);
        QTest::keyClick(rig.viewer.get(), Qt::Key_Left);
        rig.Drain();
        QVERIFY(rig.viewer->Locked());
        QCOMPARE(rig.dialogs.passwordPrompts, 2);
        back();

        // "Open Image" asks as well; a wrong password says so on the lock screen.
        QToolButton* open = nullptr;
        for (QToolButton* button : rig.gallery->findChildren<QToolButton*>())
            if (button->accessibleName() == QStringLiteral("Open Image")) open = button;
        QVERIFY(open);
        rig.dialogs.passwords = {std::string("wrong")};
        open->click();
        rig.Drain();
        QCOMPARE(rig.dialogs.passwordPrompts, 3);
        QVERIFY(rig.viewer->Locked());
        QCOMPARE(notice(), std::string("The password does not open this picture"));
        QCOMPARE(rig.viewer->zoomStatus().text, std::string("$b.jpg"));
    }

    // The lock and unlock buttons say what they do to the files on disk.
    void cryptButtonsSayWhatTheyDoOnDisk()
    {
        Rig rig;
        QString encrypt, decrypt;
        for (QToolButton* button : rig.gallery->findChildren<QToolButton*>()) {
            if (button->accessibleName() == QStringLiteral("Encrypt (E)")) encrypt = button->toolTip();
            if (button->accessibleName() == QStringLiteral("Decrypt (D)")) decrypt = button->toolTip();
        }
        QVERIFY2(encrypt.startsWith("Encrypt (E)") && encrypt.contains("in place"), qPrintable(encrypt));
        QVERIFY2(decrypt.startsWith("Decrypt (D)") && decrypt.contains("plain picture back to disk"),
                 qPrintable(decrypt));
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
        QCOMPARE(rig.gallery->Model().FolderBox(), rig / "chosen/");
        QVERIFY(!std::filesystem::exists(rig.config / "QtProject.conf"));
    }

    void statusPanelsShowTotalsAndTheSortLabel()
    {
        Rig rig;
        quillix::test::WriteFile(rig / "a.jpg", std::string(1048576, 'x'));
        rig.Show();
        quillix::gallery::StatusPanels* status = rig.gallery->statusPanels();
        QCOMPARE(status->panelText(0), QStringLiteral("1 File / 1.00 MB"));
        QCOMPARE(status->panelText(1), QStringLiteral("0 Sel. / 0.00 MB"));
        QVERIFY(!status->panelText(5).isEmpty());

        quillix::test::WriteFile(rig / "b.jpg", std::string(524288, 'x'));
        quillix::test::WriteFile(rig / "c.jpg", std::string(10486, 'x'));
        rig.gallery->RefreshGallery();
        QCOMPARE(status->panelText(0), QStringLiteral("3 Files / 1.51 MB"));
        // The totals follow the selection as it is made.
        QWidget* canvas = rig.Canvas();
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::ControlModifier, rig.TileCentre(rig.Index("a.jpg")));
        QCOMPARE(status->panelText(1), QStringLiteral("1 Sel. / 1.00 MB"));
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::ControlModifier, rig.TileCentre(rig.Index("b.jpg")));
        QCOMPARE(status->panelText(1), QStringLiteral("2 Sel. / 1.50 MB"));
        // Files gone since the list was made are not counted once it is made again.
        std::filesystem::remove(rig / "a.jpg");
        rig.gallery->RefreshGallery();
        QCOMPARE(status->panelText(0), QStringLiteral("2 Files / 0.51 MB"));
        QCOMPARE(status->panelText(1), QStringLiteral("1 Sel. / 0.50 MB"));
        rig.Key(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(status->panelText(1), QStringLiteral("2 Sel. / 0.51 MB"));
        std::filesystem::remove(rig / "b.jpg");
        std::filesystem::remove(rig / "c.jpg");
        rig.gallery->RefreshGallery();
        QCOMPARE(status->panelText(0), QStringLiteral("0 Files / 0.00 MB"));
        QCOMPARE(status->panelText(1), QStringLiteral("0 Sel. / 0.00 MB"));
    }

    // Long texts are elided in their panels, the whole text in the tool tip, and the window keeps
    // its size, a narrow one too: the panels give way.
    void longStatusTextsNeverWidenTheWindow()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg", 16, 16);
        rig.Show();
        quillix::gallery::StatusPanels* status = rig.gallery->statusPanels();
        const std::string longName = std::string(60, 'n') + "-holiday.jpg";
        const QString longTotals = QStringLiteral("123456789 Files / 987654321.00 MB");
        for (const QSize size : {QSize(1014, 700), QSize(600, 500)}) {
            rig.gallery->resize(size);
            QCoreApplication::processEvents();
            QCOMPARE(rig.gallery->size(), size);

            rig.gallery->SetStatusMessage("Enc: $" + longName);
            status->setPanelText(0, longTotals);
            status->setPanelText(1, longTotals);
            QCoreApplication::processEvents();
            QCOMPARE(rig.gallery->size(), size);

            const QString message = QString::fromStdString("Enc: $" + longName);
            QCOMPARE(status->panelText(2), message);
            const QString shown = status->shownText(2);
            QVERIFY2(shown.size() < message.size(), qPrintable(shown));
            QVERIFY2(shown.startsWith(QStringLiteral("Enc: $")) && shown.endsWith(QStringLiteral(".jpg")),
                     qPrintable(shown));
            QVERIFY(shown.contains(QChar(0x2026)));
            QCOMPARE(status->panelToolTip(2), message);
            for (const int panel : {0, 1}) {
                QVERIFY2(status->shownText(panel).startsWith(QStringLiteral("123456789")),
                         qPrintable(status->shownText(panel)));
                QVERIFY(status->shownText(panel).size() < longTotals.size());
                QCOMPARE(status->panelToolTip(panel), longTotals);
            }
        }

        // A text that fits is shown whole, with no tool tip repeating it; every sort label fits.
        rig.gallery->resize(1014, 700);
        for (int step = 0; step < quillix::browse::kSortModeCount; ++step) {
            QVERIFY(rig.gallery->Model().CycleSortMode({}).ok());
            QCOMPARE(status->shownText(5), status->panelText(5));
            QVERIFY(!status->panelText(5).isEmpty());
        }
        rig.gallery->SetStatusMessage("Done");
        QCoreApplication::processEvents();
        QCOMPARE(status->shownText(2), QStringLiteral("Done"));
        QVERIFY(status->panelToolTip(2).isEmpty());
        QCOMPARE(rig.gallery->size(), QSize(1014, 700));
    }

    // Encrypting and decrypting move no tile: a container stands where its picture stood, in every
    // name order, and the current tile and the selection follow the files.
    void encryptingLeavesEveryTileInItsPlace()
    {
        Rig rig;
        const std::vector<std::string> names = {"apple.jpg", "Cat.jpg", "dog.jpg", "img10.jpg", "img9.jpg"};
        for (const std::string& name : names)
            WriteJpeg(rig / name, 16, 16);
        rig.session->Options().Passes = 1;
        rig.Show();
        QWidget* canvas = rig.Canvas();
        QTest::mouseClick(canvas, Qt::LeftButton, {}, rig.TileCentre(rig.Index("img10.jpg")));
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::ControlModifier, rig.TileCentre(rig.Index("Cat.jpg")));
        const QSize size = rig.gallery->size();
        const std::vector<std::string> before = rig.gallery->Model().Files();
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "Cat.jpg");

        rig.dialogs.passwords = {kPassword};
        rig.Key(Qt::Key_E);
        QVERIFY(rig.WaitForRuns(1));
        QCOMPARE(rig.Names(), (std::set<std::string>{"apple.jpg", "$Cat.jpg", "dog.jpg", "$img10.jpg", "img9.jpg"}));
        std::vector<std::string> expected = before;
        for (std::string& path : expected)
            if (FileNameOf(path) == "Cat.jpg" || FileNameOf(path) == "img10.jpg") path = rig / ("$" + FileNameOf(path));
        QCOMPARE(rig.gallery->Model().Files(), expected);
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"$img10.jpg", "$Cat.jpg"}));
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "$Cat.jpg");
        QCOMPARE(rig.gallery->size(), size);

        // The other name orders keep each container in its picture's place as well.
        for (const int mode : {0, 2}) {
            rig.session->Options().SortMode = mode;
            rig.gallery->RefreshGallery();
            std::vector<std::string> shown;
            for (const std::string& path : rig.gallery->Model().Files()) {
                const std::string name = FileNameOf(path);
                shown.push_back(name.starts_with('$') ? name.substr(1) : name);
            }
            std::vector<std::string> expectedNames =
                mode == 0 ? std::vector<std::string>{"apple.jpg", "Cat.jpg", "dog.jpg", "img9.jpg", "img10.jpg"}
                          : std::vector<std::string>{"img9.jpg", "img10.jpg", "dog.jpg", "Cat.jpg", "apple.jpg"};
            QCOMPARE(shown, expectedNames);
        }

        // Decrypting brings the same files back to the same places.
        rig.session->Options().SortMode = 1;
        rig.gallery->RefreshGallery();
        rig.Key(Qt::Key_D);
        QVERIFY(rig.WaitForRuns(2));
        QCOMPARE(rig.gallery->Model().Files(), before);
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"img10.jpg", "Cat.jpg"}));
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "Cat.jpg");
    }

    void clipboardSignShowsWhileTheClipboardOffersFiles()
    {
        Rig rig;
        rig.Show();
        const auto gnome = [](const char* bytes) {
            auto* data = new QMimeData;
            data->setData("x-special/gnome-copied-files", bytes);
            return data;
        };
        const auto text = [](const char* words) {
            auto* data = new QMimeData;
            data->setText(QString::fromUtf8(words));
            return data;
        };
        const auto urls = [](const QList<QUrl>& list) {
            auto* data = new QMimeData;
            data->setUrls(list);
            return data;
        };
        struct Row {
            const char* what;
            QMimeData* offered;  // nothing: the clipboard emptied
            bool shown;
        };
        // The sign changes with every row, so a sign left from the row before shows.
        const Row rows[] = {
            {"our copy", quillix::platform::FileListMimeData({rig / "a.jpg"}, false), true},
            {"a path as text", text("/tmp/a.jpg"), false},
            {"a file manager's cut", gnome("cut\nfile:///tmp/a.jpg"), true},
            {"web addresses only", urls({QUrl("https://example.com/a.jpg")}), false},
            {"older Nautilus text", text("x-special/nautilus-clipboard\ncopy\nfile:///tmp/b.jpg\n"), true},
            {"a list without files", gnome("copy"), false},
            {"a URL list", urls({QUrl::fromLocalFile("/tmp/c d.jpg")}), true},
            {"emptied", nullptr, false},
        };
        for (const Row& row : rows) {
            if (row.offered)
                QGuiApplication::clipboard()->setMimeData(row.offered);
            else
                QGuiApplication::clipboard()->clear();
            QVERIFY2(QTest::qWaitFor([&] { return rig.gallery->statusPanels()->clipboardShown() == row.shown; }),
                     row.what);
        }
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
        rig.gallery->Model().Select({});
        rig.gallery->Model().MakeCurrent(0);
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
        rig.gallery->Model().Select({});
        rig.gallery->Model().MakeCurrent(0);
        rig.Key(Qt::Key_Delete);
        QCOMPARE(rig.Names().size(), std::size_t{11});

        // Cancel keeps everything; the totals count the files that still exist.
        std::vector<std::string> ten;
        for (int i = 0; i < 10; ++i)
            ten.push_back("f" + std::to_string(i) + ".jpg");
        rig.Select(ten);
        std::filesystem::remove(rig / "f9.jpg");
        const QString nine = "Really delete 9 file(s)?\nf0.jpg\nf1.jpg\nf2.jpg\nand 6 more\nTotal size: 9.00 MB";
        AnswerDeleteDialog("Cancel", nine);
        rig.gallery->DeleteSelectedFiles();
        QCOMPARE(rig.Names().size(), std::size_t{10});
        QCOMPARE(rig.gallery->FinishedBatchRuns(), 0);

        // Ten results, one of them for the file that vanished, then "Done".
        std::vector<std::pair<int, std::string>> seen;
        QObject::connect(rig.gallery->statusPanels()->progress(), &QProgressBar::valueChanged,
                         [&](int value) { seen.emplace_back(value, rig.Status()); });
        AnswerDeleteDialog("Normal delete", nine);
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
        rig.Drain();
        QCOMPARE(rig.gallery->FinishedBatchRuns(), 1);
    }

    void encryptingThreeFilesSelectsTheirContainers()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
            WriteJpeg(rig / name, 32, 16);
        rig.session->Options().Passes = 1;
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
        rig.session->Crypto().ClearPassword();
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
        const int generation = rig.gallery->thumbnails().Generation();
        rig.Key(Qt::Key_R, Qt::ShiftModifier);
        QCOMPARE(rig.gallery->CurrentBatchOperation(), quillix::gallery::BatchOperation::RotateCounterClockwise);
        QVERIFY(rig.WaitForRuns(1));
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"c.jpg", "a.jpg"}));
        QCOMPARE(rig.Status(), std::string("Rot: a.jpg"));
        QVERIFY(rig.gallery->thumbnails().Generation() > generation);
        rig.WaitForThumbnails();
        QCOMPARE(rig.gallery->thumbnails().At(rig.Index("a.jpg"))->size(), QSize(52, 104));
        QCOMPARE(rig.gallery->thumbnails().At(rig.Index("b.jpg"))->size(), QSize(104, 52));

        // An encrypted file shows the rotation's own message, in the run.
        EncryptInPlace(rig / "b.jpg", kPassword);
        rig.gallery->RefreshGallery();
        rig.Select({"$b.jpg"});
        rig.Key(Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(rig.gallery->CurrentBatchOperation(), quillix::gallery::BatchOperation::RotateClockwise);
        QVERIFY(rig.WaitForRuns(2));
        QCOMPARE(rig.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(rig.dialogs.messages[0].caption, std::string("Rotate"));

        // The counter-clockwise button's hint names the key that turns that way.
        const QList<QToolButton*> buttons = rig.gallery->findChildren<QToolButton*>();
        QVERIFY(std::any_of(buttons.begin(), buttons.end(),
                            [](const QToolButton* b) { return b->toolTip() == "Rotate CCW (Shift + R)"; }));
    }

    void f2RenamesAndPropertiesShowNoHeaderOfAPlainFile()
    {
        Rig rig;
        // A JFIF file begins FF D8 FF E0 00 10: bytes 4 and 5 would read as version 0 and cipher 16.
        std::string jfif = std::string("\xff\xd8\xff\xe0", 4) + std::string("\x00\x10JFIF", 6);
        jfif.resize(120, '\0');
        quillix::test::WriteFile(rig / "a.jpg", jfif);
        WriteJpeg(rig / "b.jpg", 16, 16);
        rig.Show();
        rig.Select({"a.jpg"});
        rig.gallery->Model().MakeCurrent(rig.Index("a.jpg"));
        rig.gallery->ShowProperties();
        QCOMPARE(rig.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(rig.dialogs.messages[0].caption, std::string("Properties"));
        QVERIFY(rig.dialogs.messages[0].text.starts_with("Name: a.jpg\nFormat: JPEG\nDimensions: unreadable"));
        QVERIFY(rig.dialogs.messages[0].text.find("version=") == std::string::npos);

        rig.dialogs.inputs = {std::string("z.jpg")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.Names(), (std::set<std::string>{"b.jpg", "z.jpg"}));
        QCOMPARE(rig.SelectedNames(), std::vector<std::string>{"z.jpg"});
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "z.jpg");

        // Several: numbered in the order they were selected, not the list's, each keeping its
        // extension, and selected under their new names.
        quillix::test::WriteFile(rig / "p.PNG", std::string("p"));
        quillix::test::WriteFile(rig / "q.gif", std::string("q"));
        rig.gallery->RefreshGallery();
        rig.Select({"z.jpg", "p.PNG", "q.gif"});
        rig.dialogs.inputs = {std::string("img")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.Names(), (std::set<std::string>{"b.jpg", "img001.jpg", "img002.PNG", "img003.gif"}));
        QCOMPARE(quillix::test::ReadText(rig / "img003.gif"), std::string("q"));
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"img001.jpg", "img002.PNG", "img003.gif"}));
        QCOMPARE(rig.gallery->Model().CurrentFileName(), rig / "img001.jpg");

        // Properties without a current tile: nothing.
        rig.gallery->Model().MakeCurrent(-1);
        rig.dialogs.messages.clear();
        rig.gallery->ShowProperties();
        QVERIFY(rig.dialogs.messages.empty());
    }

    void propertiesShowTheHeaderOfEitherFormatAndThePictureOnceOpened()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg", 16, 16);
        WriteJpeg(rig / "b.jpg", 16, 16);
        quillix::container::FileOptions options;
        options.Passes = 0;
        options.Fast = false;
        options.MaxKiB = 0;
        options.EncryptionAlg = quillix::crypto::CipherStrong;
        QVERIFY(quillix::container::EncryptToContainer(rig / "a.jpg", kPassword, options));
        options.EncryptionAlg = quillix::crypto::CipherTwofish;
        QVERIFY(quillix::container::EncryptToContainer(rig / "b.jpg", kPassword, options));
        std::filesystem::remove(rig / "a.jpg");
        std::filesystem::remove(rig / "b.jpg");
        rig.Show();
        const struct {
            const char* name;
            const char* header;
        } cases[] = {{"$a.jpg", "version=3  kdf=Argon2id  passes=3  memory=65536 KiB"},
                     {"$b.jpg", "version=2  alg=3  iters=200000  encBytes=0"}};
        // No password yet: the box says so and asks for none; then the run's password opens them.
        for (const bool entered : {false, true}) {
            if (entered) {
                rig.dialogs.passwords = {kPassword};
                QVERIFY(rig.session->Crypto().EnsurePassword(false));
            }
            for (const auto& c : cases) {
                rig.dialogs.messages.clear();
                rig.gallery->Model().MakeCurrent(rig.Index(c.name));
                rig.gallery->ShowProperties();
                QCOMPARE(rig.dialogs.messages.size(), std::size_t{1});
                QCOMPARE(rig.dialogs.messages[0].caption, std::string("Properties"));
                const std::string& text = rig.dialogs.messages[0].text;
                QVERIFY2(text.find("\nHeader: " + std::string(c.header) + "\n") != std::string::npos, text.c_str());
                const char* expected =
                    entered ? "\nDimensions: 16 × 16 pixels\n" : "\nLocked: no password has been entered";
                QVERIFY2(text.find(expected) != std::string::npos, text.c_str());
            }
            QVERIFY(rig.dialogs.passwordRequests.size() == (entered ? 1u : 0u));
        }
        QCOMPARE(rig.Names(), (std::set<std::string>{"$a.jpg", "$b.jpg"}));
    }

    // With the name in their keys, containers under other names would never open again.
    void renamingAndPastingKeepContainersReadable()
    {
        Rig rig;
        WriteJpeg(rig / "a.jpg", 16, 16);
        WriteJpeg(rig / "b.jpg", 16, 16, qRgb(0, 0, 250));
        WriteJpeg(rig / "c.jpg", 16, 16);
        const std::vector<std::uint8_t> a = quillix::test::ReadFile(rig / "a.jpg");
        const std::vector<std::uint8_t> b = quillix::test::ReadFile(rig / "b.jpg");
        EncryptInPlace(rig / "a.jpg", kPassword);
        EncryptInPlace(rig / "b.jpg", kPassword);
        rig.Show();

        // Without the password: F2 says what to do; a batch renames the others and lists the rest.
        rig.Select({"$a.jpg"});
        rig.dialogs.inputs = {std::string("z.jpg")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(rig.dialogs.messages[0].caption, std::string("Rename"));
        QVERIFY(rig.dialogs.messages[0].text.find("type the password first (Ctrl+Shift+P)") != std::string::npos);
        rig.Select({"$a.jpg", "c.jpg"});
        rig.dialogs.inputs = {std::string("pic")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.Names(), (std::set<std::string>{"$a.jpg", "$b.jpg", "pic002.jpg"}));
        QCOMPARE(rig.dialogs.messages.size(), std::size_t{2});
        QCOMPARE(rig.dialogs.messages[1].caption, std::string("Batch Rename"));
        QVERIFY(rig.dialogs.messages[1].text.rfind("1 file was not done as asked:\n\n$a.jpg: ", 0) == 0);
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"$a.jpg", "pic002.jpg"}));

        // With it: each keeps its "$" and opens under its new name, and the password is known good.
        rig.dialogs.passwords = {kPassword};
        QVERIFY(rig.session->Crypto().EnsurePassword(false));
        QVERIFY(!rig.session->Crypto().PasswordConfirmed());
        rig.Select({"$b.jpg", "$a.jpg"});
        rig.dialogs.inputs = {std::string("pic")};
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.Names(), (std::set<std::string>{"$pic001.jpg", "$pic002.jpg", "pic002.jpg"}));
        QCOMPARE(quillix::test::OpenedBytes(rig / "$pic001.jpg", kPassword, true), b);
        QCOMPARE(quillix::test::OpenedBytes(rig / "$pic002.jpg", kPassword, true), a);
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"$pic001.jpg", "$pic002.jpg"}));
        QCOMPARE(rig.dialogs.messages.size(), std::size_t{2});
        QVERIFY(rig.session->Crypto().PasswordConfirmed());

        // Cut elsewhere, pasted here where its name is taken, "No": numbered, and it still opens.
        quillix::test::TempDir elsewhere;
        const std::vector<std::uint8_t> other = quillix::test::PseudoRandomBytes(5000);
        quillix::test::MakeContainer(elsewhere.path(), "pic001.jpg", other, kPassword, true);
        QVERIFY(quillix::platform::PutFilesOnClipboard({elsewhere / "$pic001.jpg"}, true));
        rig.dialogs.answers = {MessageAnswer::No};
        rig.Key(Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(rig.Names(), (std::set<std::string>{"$pic001.jpg", "$pic0012.jpg", "$pic002.jpg", "pic002.jpg"}));
        QCOMPARE(quillix::test::OpenedBytes(rig / "$pic0012.jpg", kPassword, true), other);
        QVERIFY(quillix::test::HasOldTime(rig / "$pic0012.jpg"));
        QCOMPARE(quillix::test::FileNames(elsewhere), std::set<std::string>{});
        QCOMPARE(rig.SelectedNames(), std::vector<std::string>{"$pic0012.jpg"});
    }

    void closingDuringARunFinishesTheFilesInFlightOnly()
    {
        Rig rig;
        for (int i = 0; i < 40; ++i)
            WriteJpeg(rig / ("p" + std::to_string(100 + i) + ".jpg"), 16, 16);
        rig.session->Options().Passes = 3;
        rig.Show();
        rig.Key(Qt::Key_A, Qt::ControlModifier);
        rig.dialogs.passwords = {kPassword};
        rig.Key(Qt::Key_E);
        QVERIFY(rig.gallery->BatchActive());
        rig.gallery->close();
        // Whatever was worked on is complete: each picture is there once, plain or encrypted. The
        // wipes of the plain files in flight stopped after their pass in progress; what they left
        // under wipe names is finished by the next operation in the folder.
        int plain = 0, encrypted = 0, leftovers = 0;
        for (const std::string& name : rig.Names()) {
            if (quillix::container::IsWorkFileName(name)) {
                ++leftovers;
                continue;
            }
            QVERIFY2(name.size() == 8 || name.size() == 9, name.c_str());
            (name[0] == '$' ? encrypted : plain) += 1;
        }
        QCOMPARE(plain + encrypted, 40);
        QVERIFY(plain > 0);
        rig.pool->WaitIdle();
        QCOMPARE(quillix::container::FinishLeftovers(rig.pictures.path() + "/", 1), leftovers);
        QCOMPARE(rig.Names().size(), std::size_t{40});
    }

    // A starter used while a run is active starts nothing, yet empties ReselectNames as it would
    // for its own run: the encryption under way then selects nothing at its end.
    void aStarterDuringARunIsDroppedButEmptiesTheReselection()
    {
        struct Row {
            const char* what;
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
        };
        const Row rows[] = {
            {"E", Qt::Key_E, Qt::NoModifier},           {"D", Qt::Key_D, Qt::NoModifier},
            {"R", Qt::Key_R, Qt::NoModifier},           {"Shift+R", Qt::Key_R, Qt::ShiftModifier},
            {"Delete", Qt::Key_Delete, Qt::NoModifier},
        };
        for (const Row& row : rows) {
            Rig rig;
            for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
                WriteJpeg(rig / name, 16, 16);
            rig.session->Options().Passes = 1;
            rig.Show();
            rig.Select({"c.jpg", "a.jpg", "b.jpg"});
            // Once the last file's result is in, before the run ends.
            bool pressed = false, emptied = false;
            auto during = quillix::gallery::BatchOperation::None;
            QObject::connect(rig.gallery->statusPanels()->progress(), &QProgressBar::valueChanged, [&](int value) {
                if (value != 3 || pressed) return;
                pressed = true;
                if (row.key == Qt::Key_Delete) {
                    // The delete asks, and is dropped; d.jpg stays.
                    rig.Select({"d.jpg"});
                    AnswerDeleteDialog("Normal delete", "Really delete 1 file(s)?\nd.jpg\nTotal size: 0.00 MB");
                }
                rig.Key(row.key, row.modifiers);
                emptied = rig.gallery->selection().ReselectNames.empty();
                during = rig.gallery->CurrentBatchOperation();
            });
            rig.dialogs.passwords = {kPassword};
            rig.Key(Qt::Key_E);
            QVERIFY2(rig.WaitForRuns(1), row.what);
            QVERIFY2(pressed && emptied, row.what);
            QVERIFY2(during == quillix::gallery::BatchOperation::Encrypt, row.what);
            QVERIFY2(!rig.gallery->BatchActive(), row.what);
            QCOMPARE(rig.Names(), (std::set<std::string>{"$a.jpg", "$b.jpg", "$c.jpg", "d.jpg"}));
            QVERIFY2(rig.Selected().empty(), row.what);
            QCOMPARE(rig.Status(), std::string("Done"));
            QCOMPARE(rig.dialogs.passwordPrompts, 1);
        }
    }

    // Files another program removes while their delete run waits for the workers: the run still
    // ends with "Done" and tells of no failure. The progress bar is shown from the start until
    // the first run ends, then only during runs.
    void filesThatVanishDuringADeleteRunStillEndItWithDone()
    {
        Rig rig;
        quillix::test::WriteFile(rig / "keep.jpg", std::string("k"));
        rig.Show();
        QProgressBar* progress = rig.gallery->statusPanels()->progress();
        QVERIFY(progress->isVisible());
        const std::vector<std::string> names{"v1.jpg", "v2.jpg", "v3.jpg", "v4.jpg"};
        struct Run {
            const char* button;
            const char* prefix;
        };
        int runs = 0;
        for (const Run& run : {Run{"Normal delete", "Del: "}, Run{"Secure overwrite", "SecDel: "}}) {
            for (const std::string& name : names)
                quillix::test::WriteFile(rig / name, std::string(1000, 'x'));
            rig.gallery->RefreshGallery();
            rig.WaitForThumbnails();
            rig.Select(names);
            // The workers held, so that the run's files wait in the pool's queue.
            HeldWorkers held(*rig.pool);
            QVERIFY(held.AllHeld());

            AnswerDeleteDialog(run.button,
                               "Really delete 4 file(s)?\nv1.jpg\nv2.jpg\nv3.jpg\nand 1 more\nTotal size: 0.00 MB");
            rig.Key(Qt::Key_Delete);
            QVERIFY(rig.gallery->BatchActive());
            QVERIFY(progress->isVisible());
            QCOMPARE(rig.Status(), std::string(run.prefix) + "v1.jpg");
            for (const std::string& name : names)
                std::filesystem::remove(rig / name);
            held.Open();
            QVERIFY(rig.WaitForRuns(++runs));
            QCOMPARE(rig.Status(), std::string("Done"));
            QVERIFY(!progress->isVisible());
            QVERIFY(rig.dialogs.messages.empty());
            QCOMPARE(rig.Names(), std::set<std::string>{"keep.jpg"});
            QCOMPARE(rig.gallery->Model().Count(), 1);
        }
    }

    // The delete dialog waits for an answer while a run goes on; a run that ends meanwhile
    // rebuilds the list and selects its own files. The files deleted are still the ones the
    // dialog asked about.
    void deleteTakesTheFilesItAskedAboutWhenARunEndsMeanwhile()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "d.jpg"})
            WriteJpeg(rig / name, 16, 16);
        rig.session->Options().Passes = 1;
        rig.Show();
        rig.WaitForThumbnails();
        // The workers held, so that the encryption is still running when the dialog opens.
        HeldWorkers held(*rig.pool);
        QVERIFY(held.AllHeld());
        rig.Select({"a.jpg", "b.jpg"});
        rig.dialogs.passwords = {kPassword};
        rig.Key(Qt::Key_E);
        QVERIFY(rig.gallery->BatchActive());

        rig.Select({"d.jpg"});
        bool endedWhileAsked = false;
        quillix::test::WhenShown<quillix::gallery::DeleteFilesDialog>([&](quillix::gallery::DeleteFilesDialog* dialog) {
            held.Open();
            rig.Drain();
            endedWhileAsked = rig.gallery->FinishedBatchRuns() == 1;
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->text() == QStringLiteral("Normal delete")) b->click();
        });
        rig.Key(Qt::Key_Delete);
        QVERIFY(endedWhileAsked);
        QVERIFY(rig.WaitForRuns(2));
        QCOMPARE(rig.Names(), (std::set<std::string>{"$a.jpg", "$b.jpg"}));
    }

    // What a run could not do as asked is told once, in one box after "Done", in list order:
    // a container name that is taken, a picture with other hard links, a name too long to take
    // part in the key.
    void reasonsOfARunComeInOneSummaryAfterDone()
    {
        Rig rig;
        quillix::test::TempDir elsewhere;
        const std::string longName = std::string(200, 'n') + ".jpg";
        for (const std::string& name :
             {std::string("ok.jpg"), std::string("taken.jpg"), std::string("linked.jpg"), longName})
            WriteJpeg(rig / name, 16, 16);
        quillix::test::WriteFile(rig / "$taken.jpg", std::string("something else"));
        QCOMPARE(::link((rig / "linked.jpg").c_str(), (elsewhere / "linked.jpg").c_str()), 0);
        rig.session->Options().Passes = 1;
        rig.session->Options().FileNamePW = true;
        rig.Show();
        rig.Select({longName, "linked.jpg", "taken.jpg", "ok.jpg"});
        std::vector<std::string> statusAtBox;
        rig.dialogs.onMessage = [&](const ScriptedDialogs::Shown&) { statusAtBox.push_back(rig.Status()); };
        rig.dialogs.passwords = {kPassword};
        rig.Key(Qt::Key_E);
        QVERIFY(rig.WaitForRuns(1));

        QCOMPARE(rig.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(statusAtBox, std::vector<std::string>{"Done"});
        const ScriptedDialogs::Shown& summary = rig.dialogs.messages[0];
        QCOMPARE(summary.caption, std::string("Encrypt"));
        QCOMPARE(summary.icon, quillix::MessageIcon::Warning);
        const QStringList lines = QString::fromStdString(summary.text).split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QStringLiteral("3 files were not done as asked:"));
        QVERIFY2(lines[2].startsWith(QString::fromStdString(longName + ": the name is too long")),
                 qPrintable(lines[2]));
        QVERIFY2(lines[3].startsWith("linked.jpg has other hard links"), qPrintable(lines[3]));
        QVERIFY2(lines[4].startsWith("taken.jpg: ") && lines[4].contains("already exists"), qPrintable(lines[4]));

        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"$linked.jpg", "$ok.jpg"}));
        QCOMPARE(quillix::test::ReadText(rig / "$taken.jpg"), std::string("something else"));
        QVERIFY(quillix::imaging::DecodeJpegFile(elsewhere / "linked.jpg"));
        for (const std::string& name : {std::string("taken.jpg"), longName})
            QVERIFY(quillix::imaging::DecodeJpegFile(rig / name));
    }

    void deleteDialogLayoutDefaultAndEscape()
    {
        using quillix::gallery::DeleteFilesDialog;
        using quillix::gallery::DeleteMode;
        const auto button = [](DeleteFilesDialog* dialog, const char* text) -> QPushButton* {
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->text() == QLatin1String(text)) return b;
            return nullptr;
        };
        const auto type = [](Qt::Key key) {
            return [key](DeleteFilesDialog* dialog) {
                QWidget* focused = dialog->focusWidget();
                QTest::keyClick(focused ? focused : dialog, key);
            };
        };
        struct Row {
            const char* what;
            std::function<void(DeleteFilesDialog*)> act;
            DeleteMode mode;
        };
        const Row rows[] = {
            {"Enter", type(Qt::Key_Return), DeleteMode::Secure},
            {"Esc", type(Qt::Key_Escape), DeleteMode::Cancel},
            {"closed", [](DeleteFilesDialog* dialog) { dialog->close(); }, DeleteMode::Cancel},
            {"Normal delete", [&](DeleteFilesDialog* d) { button(d, "Normal delete")->click(); }, DeleteMode::Normal},
            {"Cancel", [&](DeleteFilesDialog* d) { button(d, "Cancel")->click(); }, DeleteMode::Cancel},
        };
        for (const Row& row : rows) {
            bool looked = false;
            quillix::test::WhenShown<DeleteFilesDialog>([&](DeleteFilesDialog* dialog) {
                looked = true;
                QCOMPARE(dialog->windowTitle(), QStringLiteral("Delete files"));
                QCOMPARE(dialog->size(), QSize(380, 160));
                const QLabel* question = dialog->findChild<QLabel*>();
                QCOMPARE(question->text(), QStringLiteral("Really delete 1 file(s)?\na.jpg\nTotal size: 1.25 MB"));
                QCOMPARE(question->geometry(), QRect(38, 16, 304, 60));
                QPushButton* secure = button(dialog, "Secure overwrite");
                QPushButton* normal = button(dialog, "Normal delete");
                QPushButton* cancel = button(dialog, "Cancel");
                QVERIFY(secure && normal && cancel);
                QCOMPARE(secure->geometry(), QRect(253, 119, 110, 25));
                QCOMPARE(normal->geometry(), QRect(135, 119, 110, 25));
                QCOMPARE(cancel->geometry(), QRect(17, 119, 110, 25));
                QVERIFY(secure->isDefault());
                QCOMPARE(dialog->focusWidget(), secure);
                QCOMPARE(secure->nextInFocusChain(), normal);
                QCOMPARE(normal->nextInFocusChain(), cancel);
                row.act(dialog);
            });
            const DeleteMode chosen = quillix::gallery::ChooseDeleteMode({"a.jpg"}, 1310720, nullptr);
            QVERIFY2(looked, row.what);
            QVERIFY2(chosen == row.mode, row.what);
        }
    }
};

QTEST_MAIN(GalleryWindowTest)
#include "gallery_window_test.moc"
