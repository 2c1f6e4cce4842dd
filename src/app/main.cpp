#include "app/desktop_duties.h"
#include "app/program_start.h"
#include "app/startup.h"
#include "crypto/secure_memory.h"
#include "gallery/gallery_window.h"
#include "platform/dialog_art.h"
#include "platform/privacy.h"
#include "platform/qt_dialogs.h"
#include "session/session.h"
#include "settings/app_options.h"
#include "settings/desktop_registration.h"
#include "viewer/viewer_window.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <exception>
#include <string_view>

int main(int argc, char* argv[])
{
    // No core dump and no debugger of the same user may read the pictures and passwords.
    quillix::crypto::ProtectProcessMemory();
    // Needs no display: it only removes files.
    if (argc == 2 && std::string_view(argv[1]) == "--unregister") return quillix::app::UnregisterCommand();

    QApplication application(argc, argv);
    // No display name: Qt would append it to every window title.
    QApplication::setApplicationName(QStringLiteral("Quillix"));
    QApplication::setWindowIcon(quillix::platform::AppIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("quillix"));
    quillix::platform::KeepQtSettingsPrivate();
    // Hiding the viewer to return to the gallery must not end the program; closing either does.
    QApplication::setQuitOnLastWindowClosed(false);

    try {
        quillix::platform::QtDialogs dialogs;
        // What both windows share, with the program's one worker pool; it outlives the windows.
        quillix::session::Session session({&dialogs, quillix::settings::IniFolder(), nullptr});
        quillix::viewer::ViewerWindow viewer(session);
        quillix::gallery::GalleryWindow gallery(session, viewer);
        viewer.setGallery(&gallery);

        const std::string argument = argc > 1 ? quillix::app::TrimArgument(argv[1]) : std::string();
        const quillix::app::StartPlan plan =
            quillix::app::PlanStart(argument, session.LastDir(), QDir::currentPath().toStdString());
        const quillix::app::StartupHooks hooks = quillix::app::ProgramStartupHooks(
            session.Options(), session.RegeditSettings(), quillix::settings::DesktopPlaces::FromEnvironment(),
            quillix::settings::AppExecutable());
        if (!quillix::app::StartProgram(session, viewer, gallery, plan, hooks)) return 0;
        return QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("Quillix"), QString::fromLocal8Bit(error.what()));
        return 0;
    }
}
