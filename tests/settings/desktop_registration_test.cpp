#include "settings/desktop_registration.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

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
    EXPECT_EQ(ValueOf(entry, "MimeType"), "image/jpeg;image/png;image/gif;image/bmp;image/webp;");
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
                                                    "image/webp=quillix.desktop;\n");
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
         "image/webp=quillix.desktop;\n"},
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
         "image/webp=quillix.desktop;\n"},
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
