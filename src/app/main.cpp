#include "app/startup.h"
#include "gallery/gallery_window.h"
#include "platform/privacy.h"
#include "platform/qt_dialogs.h"
#include "settings/app_options.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

#include <exception>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // No display name: Qt would append it to every window title.
    QApplication::setApplicationName(QStringLiteral("Quillix"));
    quillix::platform::KeepQtSettingsPrivate();
    // Hiding the viewer to return to the gallery must not end the program; closing either does.
    QApplication::setQuitOnLastWindowClosed(false);

    try {
        quillix::platform::QtDialogs dialogs;
        // The program's one worker pool; it outlives the windows, whose work it runs.
        quillix::workers::WorkerPool pool;
        quillix::viewer::ViewerEnvironment environment;
        environment.dialogs = &dialogs;
        environment.pool = &pool;
        environment.iniDir = quillix::settings::IniFolder();
        quillix::viewer::ViewerWindow viewer(std::move(environment));
        quillix::gallery::GalleryWindow gallery(viewer);
        viewer.setGallery(&gallery);

        const std::string argument = argc > 1 ? quillix::app::TrimArgument(argv[1]) : std::string();
        const quillix::app::StartPlan plan = quillix::app::PlanStart(
            argument, viewer.AppSettings().PopString("LastDir"), QDir::currentPath().toStdString());
        if (plan.mode == quillix::app::StartMode::Standalone) {
            viewer.StartStandalone(plan.path);
        } else {
            viewer.StartGalleryMode();
            gallery.OpenAtStart(plan.path, plan.notice);
        }

        // The settings work fills these in: the PIN prompt and the desktop registration.
        const quillix::app::StartupHooks hooks;
        QTimer::singleShot(50, &viewer, [&hooks] { quillix::app::RunStartupDuties(hooks); });
        return QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("Quillix"), QString::fromLocal8Bit(error.what()));
        return 0;
    }
}
