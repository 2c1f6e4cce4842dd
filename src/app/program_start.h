#pragma once

#include "app/startup.h"

namespace quillix::session {
class Session;
}
namespace quillix::viewer {
class ViewerWindow;
}
namespace quillix::gallery {
class GalleryWindow;
}

namespace quillix::app {

// Opens the program's windows as `plan` says. With a PIN set, the prompt comes first, while no
// window of the program exists on screen, and the gallery is locked until the right PIN, so that
// nothing typed, clicked or dropped from the first moment on reaches it. The registration runs
// 50 ms after the windows are up, or at once when the program is to end. False when the program
// is to end (the PIN was not given).
bool StartProgram(session::Session& session, viewer::ViewerWindow& viewer, gallery::GalleryWindow& gallery,
                  const StartPlan& plan, const StartupHooks& hooks);

}  // namespace quillix::app
