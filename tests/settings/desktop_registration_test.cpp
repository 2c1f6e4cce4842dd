#include "settings/desktop_registration.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace quillix::settings {
namespace {

using test::ReadText;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

// A home folder of its own, with the XDG folders inside it.
struct Home {
    TempDir dir;
    DesktopPlaces places{dir / "data", dir / "config"};
    std::vector<std::string> databaseUpdates;

    DesktopRegistration For(const std::string& executable)
    {
        DesktopRegistration registration;
        registration.executable = executable;
        registration.icons = {{48, "png of 48"}, {256, "png of 256"}};
        registration.updateDatabase = [this](const std::string& folder) { databaseUpdates.push_back(folder); };
        return registration;
    }
    // Every file registration writes.
    std::vector<std::string> Files() const
    {
        return {places.DesktopEntry(), places.DolphinServiceMenu(), places.NautilusScript(),
                places.NemoAction(),   places.IconFile(48),         places.IconFile(256)};
    }
};

// `text` at `path`, with the folders on the way.
void Put(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, text);
}

bool Exists(const std::string& path)
{
    return std::filesystem::exists(path);
}

// Waits until `path` is given its name in its folder (or is there already); false after
// `limit` without it. A program started through the desktop runs apart from the test, so
// there is nothing to wait for but its result.
bool WaitForName(const std::string& path, std::chrono::milliseconds limit)
{
    const std::filesystem::path file(path);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    if (watch < 0) return false;
    const bool watching = ::inotify_add_watch(watch, file.parent_path().c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) >= 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool there = Exists(path);
    while (watching && !there) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{watch, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
        alignas(inotify_event) char events[4096];
        if (::read(watch, events, sizeof events) < 0) break;
        there = Exists(path);
    }
    ::close(watch);
    return there;
}

bool Executable(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
}

// The value of `key` in the first section of a desktop-entry-like text.
std::string ValueOf(const std::string& text, const std::string& key)
{
    const std::string prefix = "\n" + key + "=";
    const std::size_t at = ("\n" + text).find(prefix);
    if (at == std::string::npos) return "(missing)";
    const std::size_t begin = at + prefix.size() - 1;
    return text.substr(begin, text.find('\n', begin) - begin);
}

// An Exec value read as the desktop entry specification says: the string escapes, then the
// arguments (blank separated, double quotes with \" \` \$ \\ inside), then the field codes
// ("%%" a percent sign, a lone "%f" or "%F" argument the file), or without that last step.
// A desktop entry's string value without its escapes.
std::string Unescaped(const std::string& value)
{
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char next = value[++i];
        text += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    return text;
}

std::vector<std::string> ExecArguments(const std::string& value, const std::string& file, bool expandCodes = true)
{
    const std::string text = Unescaped(value);
    std::vector<std::string> arguments;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        std::string argument;
        bool quoted = false;
        for (; i < text.size() && (quoted || text[i] != ' '); ++i) {
            if (text[i] == '"') {
                quoted = !quoted;
            } else if (quoted && text[i] == '\\' && i + 1 < text.size()) {
                argument += text[++i];
            } else {
                argument += text[i];
            }
        }
        if (!expandCodes) {
            arguments.push_back(argument);
            continue;
        }
        if (argument == "%f" || argument == "%F") {
            arguments.push_back(file);
            continue;
        }
        std::string expanded;
        for (std::size_t k = 0; k < argument.size(); ++k) {
            if (argument[k] == '%' && k + 1 < argument.size() && argument[k + 1] == '%') ++k;
            expanded += argument[k];
        }
        arguments.push_back(expanded);
    }
    return arguments;
}

// Runs `arguments` as a program and waits for it; its exit status, -1 when it did not start.
int RunProgram(const std::vector<std::string>& arguments)
{
    std::vector<std::string> copy = arguments;
    std::vector<char*> argv;
    for (std::string& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Install folders a desktop's Exec handling could trip over.
const char* const kAwkwardFolders[] = {"plain",      "my apps",       "100%",        "50% off=a%%b", "it's",
                                       "\"quoted\"", "$HOME and `x`", "back\\slash", "%f %u"};

// A stand-in program in `folder` that writes its arguments, one a line, to `record`, whole or
// not at all.
std::string StandIn(const std::string& folder, const std::string& record)
{
    std::filesystem::create_directories(folder);
    const std::string program = folder + "/quillix";
    WriteFile(program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record + ".part' && mv '" +
                           record + ".part' '" + record + "'\n");
    ::chmod(program.c_str(), 0755);
    return program;
}

TEST(DesktopRegistration, PlacesFollowTheXdgFolders)
{
    TempDir home;
    ScopedEnv homeEnv("HOME", home.path());
    {
        ScopedEnv data("XDG_DATA_HOME", home / "d");
        ScopedEnv config("XDG_CONFIG_HOME", home / "c");
        const DesktopPlaces places = DesktopPlaces::FromEnvironment();
        EXPECT_EQ(places.DesktopEntry(), home / "d/applications/quillix.desktop");
        EXPECT_EQ(places.MimeAppsList(), home / "c/mimeapps.list");
        EXPECT_EQ(places.DolphinServiceMenu(), home / "d/kio/servicemenus/quillix.desktop");
        EXPECT_EQ(places.NautilusScript(), home / "d/nautilus/scripts/View with Quillix");
        EXPECT_EQ(places.NemoAction(), home / "d/nemo/actions/quillix.nemo_action");
        EXPECT_EQ(places.IconFile(48), home / "d/icons/hicolor/48x48/apps/quillix.png");
    }
    ScopedEnv data("XDG_DATA_HOME", "relative");
    ScopedEnv config("XDG_CONFIG_HOME", "");
    const DesktopPlaces places = DesktopPlaces::FromEnvironment();
    EXPECT_EQ(places.dataHome, home / ".local/share");
    EXPECT_EQ(places.configHome, home / ".config");
}

TEST(DesktopRegistration, ExecArgumentQuotesWhatTheSpecificationReserves)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/quillix", R"("/usr/bin/quillix")"},
        {"/opt/my apps/quillix", R"("/opt/my apps/quillix")"},
        {R"(/a"b/q)", R"("/a\\"b/q")"},
        {"/a$b/q", R"("/a\\$b/q")"},
        {"/a`b/q", R"("/a\\`b/q")"},
        {R"(/a\b/q)", R"("/a\\\\b/q")"},
        {"/100%/q", R"("/100%%/q")"},
        {"/a\nb", R"("/a\nb")"},
    };
    for (const auto& [path, quoted] : cases)
        EXPECT_EQ(DesktopExecArgument(path), quoted) << path;
}

TEST(DesktopRegistration, StartWritesEveryEntryForTheExecutable)
{
    Home home;
    EXPECT_TRUE(RegisterDesktop(home.places, home.For("/opt/q/bin/quillix")));
    for (const std::string& file : home.Files())
        EXPECT_TRUE(Exists(file)) << file;

    const std::string entry = ReadText(home.places.DesktopEntry());
    EXPECT_EQ(ValueOf(entry, "Exec"), R"("/opt/q/bin/quillix" %f)");
    EXPECT_EQ(
        ValueOf(entry, "MimeType"),
        "image/jpeg;image/png;image/gif;image/bmp;image/webp;image/heic;image/heif;image/avif;image/tiff;image/jxl;");
    EXPECT_EQ(ValueOf(entry, "Icon"), "quillix");
    EXPECT_EQ(ValueOf(entry, "Type"), "Application");

    const std::string menu = ReadText(home.places.DolphinServiceMenu());
    EXPECT_NE(menu.find("MimeType=all/allfiles;\n"), std::string::npos);
    EXPECT_NE(menu.find("Name=View with Quillix\n"), std::string::npos);
    EXPECT_NE(menu.find("Exec=\"/opt/q/bin/quillix\" %f\n"), std::string::npos);
    EXPECT_TRUE(Executable(home.places.DolphinServiceMenu())) << "Dolphin runs only executable service menus";
    EXPECT_TRUE(Executable(home.places.NautilusScript()));
    const std::string action = ReadText(home.places.NemoAction());
    EXPECT_EQ(ValueOf(action, "Name"), "View with Quillix");
    EXPECT_EQ(ValueOf(action, "Exec"), "'/opt/q/bin/quillix' %F");
    EXPECT_EQ(ValueOf(action, "Extensions"), "nodirs;");
    EXPECT_EQ(ReadText(home.places.IconFile(256)), "png of 256");

    EXPECT_EQ(ReadText(home.places.MimeAppsList()), "[Added Associations]\n"
                                                    "image/jpeg=quillix.desktop;\n"
                                                    "image/png=quillix.desktop;\n"
                                                    "image/gif=quillix.desktop;\n"
                                                    "image/bmp=quillix.desktop;\n"
                                                    "image/webp=quillix.desktop;\n"
                                                    "image/heic=quillix.desktop;\n"
                                                    "image/heif=quillix.desktop;\n"
                                                    "image/avif=quillix.desktop;\n"
                                                    "image/tiff=quillix.desktop;\n"
                                                    "image/jxl=quillix.desktop;\n");
    EXPECT_EQ(home.databaseUpdates, std::vector<std::string>{home.dir / "data/applications"});
}

TEST(DesktopRegistration, NextStartAfterAMoveRewritesThePaths)
{
    Home home;
    RegisterDesktop(home.places, home.For("/old/place/quillix"));
    const std::string mimeApps = ReadText(home.places.MimeAppsList());
    RegisterDesktop(home.places, home.For("/new place/quillix"));
    EXPECT_EQ(ValueOf(ReadText(home.places.DesktopEntry()), "Exec"), R"("/new place/quillix" %f)");
    EXPECT_NE(ReadText(home.places.DolphinServiceMenu()).find(R"(Exec="/new place/quillix" %f)"), std::string::npos);
    EXPECT_EQ(ValueOf(ReadText(home.places.NemoAction()), "Exec"), "'/new place/quillix' %F");
    EXPECT_NE(ReadText(home.places.NautilusScript()).find("exec '/new place/quillix' \"$1\""), std::string::npos);
    EXPECT_EQ(ReadText(home.places.MimeAppsList()), mimeApps) << "no association twice";
    EXPECT_EQ(home.databaseUpdates.size(), 2u);
}

TEST(DesktopRegistration, UnchangedRegistrationTouchesNothing)
{
    Home home;
    RegisterDesktop(home.places, home.For("/usr/bin/quillix"));
    std::vector<std::filesystem::file_time_type> before;
    for (const std::string& file : home.Files())
        before.push_back(std::filesystem::last_write_time(file));
    struct stat mimeBefore {};
    ::stat(home.places.MimeAppsList().c_str(), &mimeBefore);

    EXPECT_TRUE(RegisterDesktop(home.places, home.For("/usr/bin/quillix")));
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(std::filesystem::last_write_time(home.Files()[i]), before[i]) << home.Files()[i];
    struct stat mimeAfter {};
    ::stat(home.places.MimeAppsList().c_str(), &mimeAfter);
    EXPECT_EQ(mimeAfter.st_ino, mimeBefore.st_ino);
    EXPECT_EQ(home.databaseUpdates.size(), 1u) << "the cache is refreshed only when the entry changed";
}

TEST(DesktopRegistration, LostExecutableBitIsPutBack)
{
    Home home;
    RegisterDesktop(home.places, home.For("/usr/bin/quillix"));
    ::chmod(home.places.DolphinServiceMenu().c_str(), 0644);
    ::chmod(home.places.NautilusScript().c_str(), 0600);
    RegisterDesktop(home.places, home.For("/usr/bin/quillix"));
    struct stat st {};
    ::stat(home.places.DolphinServiceMenu().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ::stat(home.places.NautilusScript().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "a private file stays private";
}

TEST(DesktopRegistration, NautilusScriptHandsTheFirstFileToTheProgram)
{
    // A stand-in program at a path a shell could trip over, writing down its arguments.
    Home home;
    const std::string folder = home.dir / "it's a \"folder\" $HOME";
    std::filesystem::create_directories(folder);
    const std::string program = folder + "/quillix";
    const std::string record = home.dir / "arguments";
    WriteFile(program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record + "'\n");
    ::chmod(program.c_str(), 0755);
    RegisterDesktop(home.places, home.For(program));

    const std::string picture = home.dir / "my picture $1.jpg";
    const std::string command = "'" + home.places.NautilusScript() + "' '" + picture + "' second.jpg";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadText(record), picture + "\n");
}

TEST(DesktopRegistration, ExecLinesStartTheProgramFromAnyFolder)
{
    for (const char* name : kAwkwardFolders) {
        Home home;
        const std::string record = home.dir / "arguments";
        const std::string program = StandIn(home.dir / name, record);
        RegisterDesktop(home.places, home.For(program));
        const std::string picture = home.dir / "my picture 100% $1.jpg";
        const std::pair<std::string, std::string> lines[] = {
            {"desktop entry", ValueOf(ReadText(home.places.DesktopEntry()), "Exec")},
            {"Dolphin", ValueOf(ReadText(home.places.DolphinServiceMenu())
                                    .substr(ReadText(home.places.DolphinServiceMenu()).find("[Desktop Action")),
                                "Exec")},
        };
        for (const auto& [what, exec] : lines) {
            // GLib drops an entry unless the first word, read before the field codes are
            // expanded, names a program it finds.
            EXPECT_TRUE(Exists(ExecArguments(exec, picture, false).front())) << what << ": " << exec;
            std::filesystem::remove(record);
            ASSERT_EQ(RunProgram(ExecArguments(exec, picture)), 0) << what << ": " << exec;
            EXPECT_EQ(ReadText(record), picture + "\n") << what << ": " << exec;
        }
        // Nemo: "%%" is a percent sign, the rest is split as a shell would, without expansions.
        const std::string nemo = Unescaped(ValueOf(ReadText(home.places.NemoAction()), "Exec"));
        const std::string plainPicture = home.dir / "my picture 100%.jpg";
        std::string command;
        for (std::size_t i = 0; i < nemo.size(); ++i) {
            if (nemo.compare(i, 2, "%%") == 0) {
                command += '%';
                ++i;
            } else if (nemo.compare(i, 2, "%F") == 0) {
                command += "\"" + plainPicture + "\"";  // Quote=double
                ++i;
            } else {
                command += nemo[i];
            }
        }
        std::filesystem::remove(record);
        ASSERT_EQ(RunProgram({"/bin/sh", "-c", command}), 0) << nemo;
        EXPECT_EQ(ReadText(record), plainPicture + "\n") << nemo;
    }
}

// GLib-based desktops (GNOME, Cinnamon, Xfce) start the program through the entry, as
// `gio launch` does; they refuse an entry whose program they cannot find.
TEST(DesktopRegistration, GioLaunchStartsTheProgram)
{
    if (RunProgram({"/bin/sh", "-c", "command -v gio >/dev/null"}) != 0) GTEST_SKIP() << "no gio here";
    for (const char* name : kAwkwardFolders) {
        Home home;
        const std::string record = home.dir / "arguments";
        const std::string program = StandIn(home.dir / name, record);
        RegisterDesktop(home.places, home.For(program));
        const std::string picture = home.dir / "my picture.jpg";
        ASSERT_EQ(RunProgram({"/usr/bin/env", "gio", "launch", home.places.DesktopEntry(), picture}), 0) << name;
        // gio hands the program over and returns; the stand-in writes its record whole.
        ASSERT_TRUE(WaitForName(record, std::chrono::seconds(60))) << name << ": the program never ran";
        EXPECT_EQ(ReadText(record), picture + "\n") << name;
    }
}

TEST(DesktopRegistration, OtherApplicationsAssociationsSurvive)
{
    struct Case {
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {// another program's sections and lines, and one of our types already given to it
         "[Default Applications]\n"
         "image/png=org.gnome.eog.desktop\n"
         "\n"
         "[Added Associations]\n"
         "image/png=org.gnome.eog.desktop;gimp.desktop;\n"
         "text/plain=org.gnome.gedit.desktop;\n"
         "\n"
         "[Removed Associations]\n"
         "video/mp4=totem.desktop;\n",
         "[Default Applications]\n"
         "image/png=org.gnome.eog.desktop\n"
         "\n"
         "[Added Associations]\n"
         "image/png=org.gnome.eog.desktop;gimp.desktop;quillix.desktop;\n"
         "text/plain=org.gnome.gedit.desktop;\n"
         "image/jpeg=quillix.desktop;\n"
         "image/gif=quillix.desktop;\n"
         "image/bmp=quillix.desktop;\n"
         "image/webp=quillix.desktop;\n"
         "image/heic=quillix.desktop;\n"
         "image/heif=quillix.desktop;\n"
         "image/avif=quillix.desktop;\n"
         "image/tiff=quillix.desktop;\n"
         "image/jxl=quillix.desktop;\n"
         "\n"
         "[Removed Associations]\n"
         "video/mp4=totem.desktop;\n"},
        {// a list without its final semicolon, and a comment
         "# mine\n"
         "[Added Associations]\n"
         "image/jpeg=eog.desktop\n"
         "image/gif=quillix.desktop;\n",
         "# mine\n"
         "[Added Associations]\n"
         "image/jpeg=eog.desktop;quillix.desktop;\n"
         "image/gif=quillix.desktop;\n"
         "image/png=quillix.desktop;\n"
         "image/bmp=quillix.desktop;\n"
         "image/webp=quillix.desktop;\n"
         "image/heic=quillix.desktop;\n"
         "image/heif=quillix.desktop;\n"
         "image/avif=quillix.desktop;\n"
         "image/tiff=quillix.desktop;\n"
         "image/jxl=quillix.desktop;\n"},
        {// no section of ours yet
         "[Default Applications]\n"
         "text/html=firefox.desktop\n",
         "[Default Applications]\n"
         "text/html=firefox.desktop\n"
         "\n"
         "[Added Associations]\n"
         "image/jpeg=quillix.desktop;\n"
         "image/png=quillix.desktop;\n"
         "image/gif=quillix.desktop;\n"
         "image/bmp=quillix.desktop;\n"
         "image/webp=quillix.desktop;\n"
         "image/heic=quillix.desktop;\n"
         "image/heif=quillix.desktop;\n"
         "image/avif=quillix.desktop;\n"
         "image/tiff=quillix.desktop;\n"
         "image/jxl=quillix.desktop;\n"},
    };
    for (const Case& c : cases) {
        Home home;
        Put(home.places.MimeAppsList(), c.before);
        RegisterDesktop(home.places, home.For("/usr/bin/quillix"));
        EXPECT_EQ(ReadText(home.places.MimeAppsList()), c.after) << c.before;
    }
}

TEST(DesktopRegistration, RemovingTakesBackExactlyWhatAddingPut)
{
    const char* texts[] = {
        "",
        "[Default Applications]\nimage/png=org.gnome.eog.desktop\n",
        "[Added Associations]\nimage/png=org.gnome.eog.desktop;\ntext/plain=gedit.desktop;\n",
        "[Default Applications]\ntext/html=firefox.desktop\n\n[Added Associations]\nimage/jpeg=eog.desktop;\n\n"
        "[Removed Associations]\nvideo/mp4=totem.desktop;\n",
    };
    for (const char* text : texts)
        EXPECT_EQ(RemoveFromMimeApps(AddToMimeApps(text)), text) << text;
}

TEST(DesktopRegistration, UnregisterRemovesOursAndNothingElse)
{
    Home home;
    const std::string neighbour = home.places.ApplicationsFolder() + "/gimp.desktop";
    const std::string otherScript = home.dir / "data/nautilus/scripts/Resize";
    Put(home.places.MimeAppsList(), "[Added Associations]\nimage/png=eog.desktop;\n");
    RegisterDesktop(home.places, home.For("/usr/bin/quillix"));
    Put(neighbour, "[Desktop Entry]\n");
    Put(otherScript, "#!/bin/sh\n");

    std::vector<std::string> updates;
    EXPECT_TRUE(UnregisterDesktop(home.places, [&](const std::string& folder) { updates.push_back(folder); }));
    for (const std::string& file : home.Files())
        EXPECT_FALSE(Exists(file)) << file;
    EXPECT_TRUE(Exists(neighbour));
    EXPECT_TRUE(Exists(otherScript));
    EXPECT_EQ(ReadText(home.places.MimeAppsList()), "[Added Associations]\nimage/png=eog.desktop;\n");
    EXPECT_EQ(updates.size(), 1u);
    EXPECT_TRUE(UnregisterDesktop(home.places, [](const std::string&) {})) << "twice is no error";
}

TEST(DesktopRegistration, FailuresAreSilentAndTheRestIsWritten)
{
    Home home;
    // A folder where mimeapps.list should be.
    std::filesystem::create_directories(home.places.MimeAppsList());
    EXPECT_FALSE(RegisterDesktop(home.places, home.For("/usr/bin/quillix")));
    EXPECT_TRUE(Exists(home.places.DesktopEntry()));
    EXPECT_TRUE(Exists(home.places.NemoAction()));
    EXPECT_FALSE(RegisterDesktop(home.places, home.For(""))) << "no executable, nothing to register";
}

TEST(DesktopRegistration, MimeAppsListKeptBehindItsSymbolicLink)
{
    Home home;
    const std::string real = home.dir / "dotfiles/mimeapps.list";
    Put(real, "[Added Associations]\n");
    std::filesystem::create_directories(home.places.configHome);
    std::filesystem::create_symlink(real, home.places.MimeAppsList());
    RegisterDesktop(home.places, home.For("/usr/bin/quillix"));
    EXPECT_TRUE(std::filesystem::is_symlink(home.places.MimeAppsList()));
    EXPECT_NE(ReadText(real).find("image/webp=quillix.desktop;"), std::string::npos);
}

TEST(DesktopRegistration, ExecutableOfTheRunningProgram)
{
    const std::string exe = AppExecutable();
    EXPECT_EQ(std::filesystem::path(exe).filename(), "settings_tests");
    EXPECT_TRUE(std::filesystem::path(exe).is_absolute());
}

}  // namespace
}  // namespace quillix::settings
