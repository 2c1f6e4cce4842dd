#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The program's place on the desktop, for the current user only: its desktop entry with the
// picture types it opens, the associations in mimeapps.list, and "View with Quillix" in the
// context menus of Dolphin, Nautilus and Nemo. Every start writes it again, so the paths follow
// the executable when it moves; `quillix --unregister` takes exactly this back out.
namespace quillix::settings {

inline constexpr const char* kDesktopId = "quillix.desktop";
inline constexpr const char* kIconName = "quillix";
inline constexpr const char* kViewWithQuillix = "View with Quillix";

// The picture types the program registers for.
const std::vector<std::string>& RegisteredMimeTypes();

// The edges of the program's icon in the hicolor theme, per user and in the package.
const std::vector<int>& IconSizes();

// The per-user folders of the XDG base directories and the files registration writes in them.
struct DesktopPlaces {
    std::string dataHome;    // $XDG_DATA_HOME, else ~/.local/share
    std::string configHome;  // $XDG_CONFIG_HOME, else ~/.config

    // Relative XDG values are ignored, as the base directory specification asks.
    static DesktopPlaces FromEnvironment();

    std::string ApplicationsFolder() const;
    std::string DesktopEntry() const;
    std::string MimeAppsList() const;
    std::string DolphinServiceMenu() const;
    std::string NautilusScript() const;
    std::string NemoAction() const;
    std::string IconFile(int size) const;
};

// One icon size of the per-user icon theme, as PNG bytes.
struct IconImage {
    int size = 0;
    std::string png;
};

struct DesktopRegistration {
    // The full path of the program the entries start.
    std::string executable;
    std::vector<IconImage> icons;
    // Refreshes the desktop's cache of the applications folder; RunUpdateDesktopDatabase when
    // empty.
    std::function<void(const std::string& folder)> updateDatabase;
};

// The full path of the running executable; empty when it cannot be told or no longer exists
// (replaced by an upgrade while running).
std::string AppExecutable();

// Runs update-desktop-database on `folder` when it is installed and waits for it; its absence or
// failure is no error.
void RunUpdateDesktopDatabase(const std::string& folder);

// `argument` as one argument of a desktop entry's Exec line: quoted, with the characters the
// desktop entry specification reserves escaped.
std::string DesktopExecArgument(const std::string& argument);

// The command of an Exec line, before its field code, that starts the program at `executable`:
// the quoted path, or, when the path holds "%", sh handed the path, so that GLib-based desktops,
// which look the program up before they expand "%%", accept the entry.
std::string DesktopExecCommand(const std::string& executable);

// The texts of the files registration writes, for the program at `executable`.
std::string DesktopEntryText(const std::string& executable);
std::string DolphinServiceMenuText(const std::string& executable);
std::string NautilusScriptText(const std::string& executable);
std::string NemoActionText(const std::string& executable);

// mimeapps.list with the program added to the [Added Associations] of each registered type
// (after the applications already named there), and with it taken out again. Every other line
// stays as it was.
std::string AddToMimeApps(const std::string& text);
std::string RemoveFromMimeApps(const std::string& text);

// Writes every file (only those whose content differs, so an unchanged registration touches
// nothing) and refreshes the applications cache when the desktop entry changed. Failures are
// silent: false when anything could not be written.
bool RegisterDesktop(const DesktopPlaces& places, const DesktopRegistration& registration);

// Removes what RegisterDesktop writes; files and lines of other programs stay. False when
// something could not be removed.
bool UnregisterDesktop(const DesktopPlaces& places,
                       const std::function<void(const std::string& folder)>& updateDatabase = {});

}  // namespace quillix::settings
