#include "app/desktop_duties.h"

#include "platform/dialog_art.h"
#include "platform/pin_dialog.h"

#include <iostream>

namespace quillix::app {

settings::DesktopRegistration ProgramRegistration(const std::string& executable)
{
    settings::DesktopRegistration registration;
    registration.executable = executable;
    for (const int size : settings::IconSizes())
        registration.icons.push_back({size, platform::AppIconPng(size).toStdString()});
    return registration;
}

StartupHooks ProgramStartupHooks(settings::AppOptions& options, settings::SettingsStore& regeditSettings,
                                 settings::DesktopPlaces places, std::string executable)
{
    StartupHooks hooks;
    hooks.checkPin = [&options, &regeditSettings] { return platform::AskPinAtStart(options, regeditSettings); };
    hooks.registerDesktop = [places = std::move(places), executable = std::move(executable)] {
        // Silent: a desktop that cannot take the entries must not stop the program.
        settings::RegisterDesktop(places, ProgramRegistration(executable));
    };
    return hooks;
}

int UnregisterCommand()
{
    if (settings::UnregisterDesktop(settings::DesktopPlaces::FromEnvironment())) return 0;
    std::cerr << "quillix: some of the desktop registration could not be removed\n";
    return 1;
}

}  // namespace quillix::app
