#include "app/desktop_duties.h"
#include "app/program_start.h"
#include "gallery/gallery_window.h"
#include "gallery/status_panels.h"
#include "platform/pin_dialog.h"
#include "settings/app_options.h"
#include "settings/pin_lock.h"
#include "support/picture_files.h"
#include "support/scoped_env.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <set>

using quillix::gallery::GalleryWindow;
using quillix::platform::PinDialog;
using quillix::test::TempDir;

namespace {

// The program's start over three pictures with the PIN 1234 set, and a person who presses keys
// from the first moment on.
struct LockedStart {
    TempDir pictures;
    TempDir config;
    quillix::test::ScopedEnv xdg{"XDG_CONFIG_HOME", config.path()};
    quillix::test::ScriptedDialogs dialogs;
    quillix::workers::WorkerPool pool{2};
    std::unique_ptr<quillix::session::Session> session;
    std::unique_ptr<quillix::viewer::ViewerWindow> viewer;
    std::unique_ptr<GalleryWindow> gallery;
    bool registered = false;

    // What was seen while the prompt was up.
    int ticksWithPrompt = 0;
    std::set<QString> otherWindows;  // titles of every other window on screen
    std::set<QString> statusTexts;   // the gallery's status panels
    std::set<QString> galleryTitles;

    LockedStart()
    {
        for (const char* name : {"a.jpg", "$b.jpg", "c.jpg"})
            quillix::test::WriteJpeg(pictures / name, 64, 48, qRgb(220, 30, 30));
        quillix::settings::SettingsStore reg;
        quillix::settings::ConfigureRegeditSettings(reg);
        reg.PushString("p", quillix::settings::HashPin("1234"));
        reg.SaveToRegistry();

        session = std::make_unique<quillix::session::Session>(
            quillix::session::SessionEnvironment{&dialogs, config.path() + "/", &pool});
        quillix::viewer::ViewerEnvironment environment;
        environment.screenSize = [] { return quillix::viewer::Size{1920, 1080}; };
        environment.quit = [](int) {};
        viewer = std::make_unique<quillix::viewer::ViewerWindow>(*session, std::move(environment));
        gallery = std::make_unique<GalleryWindow>(*session, *viewer);
        viewer->setGallery(gallery.get());
    }
    ~LockedStart()
    {
        pool.Shutdown();
        viewer->setGallery(nullptr);
        gallery.reset();
        viewer.reset();
    }

    void PressKeys(QWidget* target)
    {
        for (const Qt::Key key : {Qt::Key_F2, Qt::Key_Space, Qt::Key_Delete, Qt::Key_E, Qt::Key_Return})
            QTest::keyClick(target, key);
        QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_Delete);
    }

    // Starts the program as main does; the keys go to the prompt and to both windows, which a
    // person cannot reach but a stray event might. `typed` goes into the prompt once it has had
    // its share of keys.
    bool Start(const char* typed)
    {
        // Queued before the start, delivered within the prompt's own event loop.
        for (QWidget* target : {static_cast<QWidget*>(gallery.get()), static_cast<QWidget*>(viewer.get())})
            for (const Qt::Key key : {Qt::Key_F2, Qt::Key_Delete, Qt::Key_Return})
                QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
        QTimer person;
        person.setInterval(0);
        QObject::connect(&person, &QTimer::timeout, [&] {
            PinDialog* prompt = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (!w->isVisible()) continue;
                if (auto* p = qobject_cast<PinDialog*>(w)) {
                    prompt = p;
                    continue;
                }
                otherWindows.insert(w->windowTitle());
                // A dialog behind the prompt is the fault itself: note it and close it.
                if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
            }
            if (!prompt) return;
            ++ticksWithPrompt;
            for (int panel : {0, 1, 2})
                statusTexts.insert(gallery->statusPanels()->panelText(panel));
            galleryTitles.insert(gallery->windowTitle());
            PressKeys(prompt);
            PressKeys(gallery.get());
            PressKeys(viewer.get());
            if (ticksWithPrompt == 20) QTest::keyClicks(prompt->field(), typed);
        });
        person.start();
        const quillix::app::StartupHooks hooks{
            [this] { return quillix::platform::AskPinAtStart(session->Options(), session->RegeditSettings()); },
            [this] { registered = true; }};
        const bool goOn = quillix::app::StartProgram(
            *session, *viewer, *gallery, {quillix::app::StartMode::Gallery, pictures.path() + "/", {}}, hooks);
        person.stop();
        return goOn;
    }

    void ExpectNothingReachedOrShowed()
    {
        QCOMPARE(ticksWithPrompt, 20);
        QCOMPARE(otherWindows, std::set<QString>{});
        QCOMPARE(statusTexts, std::set<QString>{QString()});
        QCOMPARE(galleryTitles, std::set<QString>{QString("Quillix")});
        QVERIFY(dialogs.inputsAsked.empty());
        QVERIFY(dialogs.messages.empty());
        QCOMPARE(dialogs.passwordPrompts, 0);
        for (const char* name : {"a.jpg", "$b.jpg", "c.jpg"})
            QVERIFY(std::filesystem::exists(pictures / name));
    }
};

}  // namespace

class LockedStartWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void wrongPinEndsBeforeAnyWindowShows()
    {
        LockedStart start;
        QVERIFY(!start.Start("9999"));
        start.ExpectNothingReachedOrShowed();
        QVERIFY(!start.gallery->isVisible());
        QVERIFY(!start.viewer->isVisible());
        QVERIFY(start.registered);
    }

    void rightPinOpensTheGalleryOnlyThen()
    {
        LockedStart start;
        QVERIFY(start.Start("1234"));
        start.ExpectNothingReachedOrShowed();
        QVERIFY(start.gallery->isVisible());
        QVERIFY(!start.gallery->locked());
        QCOMPARE(start.gallery->windowTitle(),
                 QString::fromStdString("3 Images - Quillix - " + start.pictures.path() + "/"));
        // Registered once the windows are up.
        QTRY_VERIFY_WITH_TIMEOUT(start.registered, 20000);
    }
};

QTEST_MAIN(LockedStartWidgetTest)
#include "locked_start_widget_test.moc"
