#include "app/program_start.h"

#include "gallery/gallery_window.h"
#include "session/session.h"
#include "settings/pin_lock.h"
#include "viewer/viewer_window.h"

#include <QTimer>

namespace quillix::app {

bool StartProgram(session::Session& session, viewer::ViewerWindow& viewer, gallery::GalleryWindow& gallery,
                  const StartPlan& plan, const StartupHooks& hooks)
{
    // The gallery is not on screen while the PIN is asked; locked, it would still refuse a key
    // or a click that reached it.
    gallery.setLocked(settings::PinRequired(session.Options()));
    const bool goOn = RunStartupDuties(hooks, [&viewer](std::function<void()> registration) {
        QTimer::singleShot(50, &viewer, std::move(registration));
    });
    if (!goOn) return false;
    gallery.setLocked(false);
    if (plan.mode == StartMode::Standalone) {
        viewer.StartStandalone(plan.path);
    } else {
        viewer.StartGalleryMode();
        gallery.OpenAtStart(plan.path, plan.notice);
    }
    return true;
}

}  // namespace quillix::app
