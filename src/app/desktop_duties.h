#pragma once

#include "app/startup.h"
#include "settings/app_options.h"
#include "settings/desktop_registration.h"
#include "settings/settings_store.h"

#include <string>

namespace quillix::app {

// The registration of the program at `executable`, with its drawn icon in every theme size.
settings::DesktopRegistration ProgramRegistration(const std::string& executable);

// The two start-up duties of the program: the parental PIN, then the registration of
// `executable` in `places`.
StartupHooks ProgramStartupHooks(settings::AppOptions& options, settings::SettingsStore& regeditSettings,
                                 settings::DesktopPlaces places, std::string executable);

// `quillix --unregister`: removes the registration; 0 when all of it is gone, 1 (with a message
// on standard error) when something stays.
int UnregisterCommand();

}  // namespace quillix::app
