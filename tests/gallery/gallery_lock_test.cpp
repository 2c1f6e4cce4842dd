#include "gallery/gallery_window.h"
#include "gallery/status_panels.h"
#include "platform/about_dialog.h"
#include "platform/settings_dialog.h"
#include "support/gallery_rig.h"
#include "support/picture_files.h"
#include "support/pool_drain.h"
#include "support/scoped_env.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/when_shown.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <vector>

using quillix::gallery::GalleryWindow;
using quillix::test::TempDir;

namespace {

// A gallery over three pictures, locked before it opens the folder, as a start with a PIN set.
struct LockedGallery : quillix::test::GalleryRig<> {
    LockedGallery()
    {
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            quillix::test::WriteJpeg(pictures / name, 320, 200, qRgb(220, 30, 30));
        gallery->setLocked(true);
        Show();
    }
    // How many pixels of the tile canvas are not its plain background.
    int DrawnPixels() const
    {
        QWidget* canvas = reinterpret_cast<QWidget*>(gallery->canvas());
        const QImage shot = canvas->grab().toImage();
        const QRgb background = gallery->palette().color(QPalette::Button).rgb();
        int drawn = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                drawn += (shot.pixel(x, y) | 0xff000000) != (background | 0xff000000);
        return drawn;
    }
    QToolButton* ToolButton(const QString& hint) const
    {
        for (QToolButton* button : gallery->findChildren<QToolButton*>())
            if (button->accessibleName() == hint) return button;
        return nullptr;
    }
};

}  // namespace

class GalleryLockTest : public QObject {
    Q_OBJECT

private slots:
    void nothingShowsOrIsMadeUntilUnlocked()
    {
        LockedGallery rig;
        quillix::test::Drain({rig.pool.get(), &rig.session->Pool()});
        QCOMPARE(rig.gallery->Model().Count(), 3);
        QCOMPARE(rig.pool->SubmittedCount(), std::uint64_t{0});
        for (int i = 0; i < 3; ++i)
            QVERIFY(!rig.gallery->thumbnails().At(i));
        QCOMPARE(rig.gallery->windowTitle(), QString("Quillix"));
        QCOMPARE(rig.gallery->folderEdit()->text(), QString());
        QCOMPARE(rig.DrawnPixels(), 0);
        rig.gallery->Model().SetCurrentIndex(0);
        rig.gallery->ShowImage();
        QVERIFY(!rig.viewer->isVisible());
        QVERIFY(rig.viewer->CurrentPath().empty());

        rig.gallery->setLocked(false);
        quillix::test::Drain({rig.pool.get(), &rig.session->Pool()});
        QVERIFY(rig.gallery->thumbnails().Complete());
        QVERIFY(rig.gallery->thumbnails().At(0));
        QVERIFY(rig.gallery->windowTitle().startsWith("3 Images - Quillix - "));
        QCOMPARE(rig.gallery->folderEdit()->text().toStdString(), rig.pictures.path() + "/");
        QVERIFY(rig.DrawnPixels() > 0);
    }

    void lockedGalleryTakesNoKeyClickOrButton()
    {
        LockedGallery rig;
        rig.gallery->Model().FocusTile(1);
        rig.gallery->Model().Select({0, 1, 2});
        rig.gallery->statusPanels()->setPanelText(0, "stale");
        rig.gallery->SetStatusMessage("File not found: " + (rig.pictures / "x.jpg"));
        rig.gallery->setLocked(true);  // refreshes the status bar as the status timer does
        // Any dialog that comes up is the fault: noted and closed, so the test goes on.
        std::vector<QString> dialogsShown;
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) {
                    dialogsShown.push_back(d->windowTitle());
                    d->reject();
                }
        });
        watch.start();
        for (const Qt::Key key : {Qt::Key_F2, Qt::Key_Space, Qt::Key_Delete, Qt::Key_Return, Qt::Key_E, Qt::Key_D,
                                  Qt::Key_R, Qt::Key_F5, Qt::Key_Backspace})
            QTest::keyClick(rig.gallery.get(), key);
        QTest::keyClick(rig.gallery.get(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(rig.gallery.get(), Qt::Key_X, Qt::ControlModifier);
        QTest::keyClick(rig.gallery.get(), Qt::Key_Delete, Qt::ShiftModifier);
        for (const char* hint : {"Delete", "Encrypt (E)", "Rotate CW (R)", "Settings", "Open Image", "Properties"}) {
            QToolButton* button = rig.ToolButton(hint);
            QVERIFY(button);
            QTest::mouseClick(button, Qt::LeftButton);
        }
        QWidget* canvas = reinterpret_cast<QWidget*>(rig.gallery->canvas());
        QTest::mouseDClick(canvas, Qt::LeftButton, {}, QPoint(40, 40));
        watch.stop();

        QVERIFY(dialogsShown.empty());
        QVERIFY(rig.dialogs.inputsAsked.empty());
        QVERIFY(rig.dialogs.messages.empty());
        QCOMPARE(rig.dialogs.passwordPrompts, 0);
        QVERIFY(!rig.viewer->isVisible());
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            QVERIFY(std::filesystem::exists(rig.pictures / name));
        // No count, size, name or path anywhere.
        for (int panel = 0; panel < quillix::gallery::StatusPanels::kPanelCount; ++panel)
            if (panel != 5) QCOMPARE(rig.gallery->statusPanels()->panelText(panel), QString());
        QCOMPARE(rig.gallery->windowTitle(), QString("Quillix"));

        rig.gallery->setLocked(false);
        QVERIFY(rig.gallery->statusPanels()->panelText(0).startsWith("3 Files"));
        QVERIFY(rig.gallery->StatusText().startsWith("File not found: "));
    }

    void toolBandOpensSettingsAndAbout()
    {
        LockedGallery rig;
        rig.gallery->setLocked(false);
        QToolButton* settings = rig.ToolButton("Settings");
        QToolButton* about = rig.ToolButton("About");
        QVERIFY(settings && about);
        bool settingsShown = false, aboutShown = false;
        quillix::test::WhenShown<quillix::platform::SettingsDialog>([&](quillix::platform::SettingsDialog* d) {
            settingsShown = d->isModal() && d->windowTitle() == "Settings";
            d->reject();
        });
        QTest::mouseClick(settings, Qt::LeftButton);
        QVERIFY(settingsShown);
        quillix::test::WhenShown<quillix::platform::AboutDialog>([&](quillix::platform::AboutDialog* d) {
            aboutShown = d->isModal() && d->windowTitle() == "About Brindle";
            d->reject();
        });
        QTest::mouseClick(about, Qt::LeftButton);
        QVERIFY(aboutShown);
    }
};

QTEST_MAIN(GalleryLockTest)
#include "gallery_lock_test.moc"
