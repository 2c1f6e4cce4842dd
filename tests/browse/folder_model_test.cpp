#include "browse/folder_model.h"

#include "common/paths.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quillix::browse {
namespace {

using test::TempDir;

// Sets both access and modification time to now + `offsetSeconds`.
void SetFileTime(const std::string& path, long offsetSeconds)
{
    const timespec t{std::time(nullptr) + offsetSeconds, 0};
    const timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << std::strerror(errno);
}

void MakeFile(const TempDir& dir, const std::string& name, long offsetSeconds = 0)
{
    test::WriteFile(dir / name, "x");
    if (offsetSeconds != 0) SetFileTime(dir / name, offsetSeconds);
}

std::vector<std::string> NamesOf(const FileList& files)
{
    std::vector<std::string> names;
    for (const std::string& path : files)
        names.push_back(FileNameOf(path));
    return names;
}

// The listing pattern a name belongs to, or -1.
int PatternOf(const std::string& name)
{
    for (int i = 0; i < static_cast<int>(std::size(kImageExtensions)); ++i) {
        if (HasExtension(name, kImageExtensions[i])) return i;
    }
    return -1;
}

class RecordingListener : public FolderModelListener {
public:
    void listRebuilt(int count) override { rebuilds.push_back(count); }
    void layoutChanged() override { ++layouts; }
    void repaintRequested() override { ++repaints; }
    void ensureVisible(int index) override { visibleRequests.push_back(index); }
    void statusChanged() override { ++statusRefreshes; }
    void folderBoxChanged(const std::string& text) override { folderBox = text; }
    void sortModeChanged(int mode) override { savedModes.push_back(mode); }
    void lastDirChosen(const std::string& folder) override { lastDir = folder; }
    bool galleryVisible() const override { return visible; }

    std::vector<int> rebuilds;
    int layouts = 0;
    int repaints = 0;
    std::vector<int> visibleRequests;
    int statusRefreshes = 0;
    std::string folderBox;
    std::vector<int> savedModes;
    std::string lastDir;
    bool visible = false;
};

struct Gallery {
    explicit Gallery(int sortMode = 0) { options.SortMode = sortMode; }
    Gallery(const Gallery&) = delete;
    Gallery& operator=(const Gallery&) = delete;
    FileList files;
    settings::AppOptions options;
    RecordingListener listener;
    FolderModel model{files, options, &listener};
};

// Every sort must agree with CompareForSort on neighbours, or the two have drifted apart.
void ExpectConsistentWithCompare(const FolderModel& model)
{
    for (int i = 0; i + 1 < model.Count(); ++i)
        EXPECT_LE(model.CompareForSort(i, i + 1), 0) << "at " << i;
}

TEST(FolderListing, ListsImageFilesGroupedByPatternAndNothingElse)
{
    TempDir dir;
    for (const char* name : {"a.JPG", "b.png",  "c.jpg",  "d.JpEg",    "e.Webp", "f.bmp",      "g.GIF",  ".hidden.png",
                             ".jpg",  "noext",  "jpg",    "x.jpg.txt", "y.tif",  "z.jpegx",    "h.HEIC", "i.heif",
                             "j.hif", "k.avif", "l.TIFF", "m.jxl",     "n.jxlx", "o.tif.part", "$p.heic"})
        MakeFile(dir, name);
    std::filesystem::create_directory(dir / "folder.jpg");
    std::filesystem::create_symlink(dir / "f.bmp", dir / "link-to-file.png");
    std::filesystem::create_directory_symlink(dir / "folder.jpg", dir / "link-to-folder.gif");
    std::filesystem::create_symlink(dir / "missing.bmp", dir / "dangling.bmp");

    const Result<FileList> listing = ListImageFiles(dir.path());
    ASSERT_TRUE(listing.ok());
    const std::vector<std::string> names = NamesOf(listing.value());

    const std::multiset<std::string> listed(names.begin(), names.end());
    const std::multiset<std::string> expected{
        "a.JPG",  "c.jpg",  ".jpg",   "d.JpEg", "b.png",  "f.bmp", "g.GIF",  ".hidden.png", "link-to-file.png",
        "e.Webp", "h.HEIC", "i.heif", "j.hif",  "k.avif", "y.tif", "l.TIFF", "m.jxl",       "$p.heic"};
    EXPECT_EQ(listed, expected);
    std::vector<int> patterns;
    for (const std::string& name : names)
        patterns.push_back(PatternOf(name));
    EXPECT_TRUE(std::is_sorted(patterns.begin(), patterns.end())) << testing::PrintToString(names);
    for (const std::string& path : listing.value())
        EXPECT_EQ(FolderOf(path), dir.path() + "/");
    Gallery g;
    ASSERT_TRUE(g.model.LoadFolder(dir.path()).ok());
    EXPECT_EQ(std::multiset<std::string>(g.files.begin(), g.files.end()),
              std::multiset<std::string>(listing.value().begin(), listing.value().end()));
    EXPECT_EQ(g.listener.rebuilds, std::vector<int>{18});
}

// The "Windows" mode lists as the desktop's file managers do: numbers by value, case ignored,
// whatever order readdir gave. Names equal but for case still get one order.
TEST(FolderListing, WindowsModeListsNamesNaturally)
{
    TempDir dir;
    for (const char* name : {"img10.jpg", "img2.png", "IMG3.gif", "img1.JPG", "a.jpg", "A.jpg", "img02.bmp",
                             "shot 9.webp", "shot 10.jpeg"})
        MakeFile(dir, name);
    const std::vector<std::string> expected = {"A.jpg",    "a.jpg",     "img1.JPG",    "img02.bmp",   "img2.png",
                                               "IMG3.gif", "img10.jpg", "shot 9.webp", "shot 10.jpeg"};
    for (const int mode : {0, 7, -1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Gallery g(mode);
        ASSERT_TRUE(g.model.LoadFolder(dir.path() + "/").ok());
        EXPECT_EQ(NamesOf(g.files), expected);
        EXPECT_EQ(g.files[0], dir.path() + "/A.jpg");
        ExpectConsistentWithCompare(g.model);
    }
}

enum class Unreadable { Missing, NotAFolder, NoPermission };

// One test per row, so that under root only the permission row skips.
class UnreadableFolder : public testing::TestWithParam<Unreadable> {};

TEST_P(UnreadableFolder, GivesEmptyListAndError)
{
    TempDir dir;
    std::string folder;
    switch (GetParam()) {
    case Unreadable::Missing: folder = dir / "missing"; break;
    case Unreadable::NotAFolder:
        folder = dir / "plain.jpg";
        MakeFile(dir, "plain.jpg");
        break;
    case Unreadable::NoPermission:
        if (!test::PermissionsAreEnforced()) GTEST_SKIP() << "permissions do not stop root";
        folder = dir / "locked";
        std::filesystem::create_directory(folder);
        MakeFile(dir, "locked/inside.jpg");
        ::chmod(folder.c_str(), 0);
        break;
    }
    Gallery g;
    g.files = {"stale/entry.jpg"};
    const Result<void> r = g.model.LoadFolder(folder);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Io);
    EXPECT_NE(r.error().message.find(folder), std::string::npos);
    EXPECT_TRUE(g.files.empty());
    EXPECT_EQ(g.model.LoadedFolder(), folder);
    EXPECT_EQ(g.listener.rebuilds, std::vector<int>{0});
}

std::string UnreadableName(const testing::TestParamInfo<Unreadable>& row)
{
    static const char* const kNames[] = {"Missing", "NotAFolder", "NoPermission"};
    return kNames[static_cast<int>(row.param)];
}

INSTANTIATE_TEST_SUITE_P(FolderListing, UnreadableFolder,
                         testing::Values(Unreadable::Missing, Unreadable::NotAFolder, Unreadable::NoPermission),
                         UnreadableName);

TEST(FolderListing, EmptyFolderTextEmptiesTheListOnly)
{
    TempDir dir;
    MakeFile(dir, "a.jpg");
    Gallery g;
    ASSERT_TRUE(g.model.LoadFolder(dir.path()).ok());
    ASSERT_TRUE(g.model.LoadFolder("").ok());
    EXPECT_TRUE(g.files.empty());
    EXPECT_EQ(g.model.LoadedFolder(), dir.path());
    EXPECT_EQ(g.listener.rebuilds, (std::vector<int>{1, 0}));
}

TEST(FolderSort, ByNameIgnoresCaseAndKeepsTiesInListingOrder)
{
    TempDir dir;
    for (const char* name : {"cherry.jpg", "Banana.png", "apple.gif", "DATE.bmp", "Photo.jpg", "photo.jpg"})
        MakeFile(dir, name);
    const Result<FileList> listing = ListImageFiles(dir.path());
    ASSERT_TRUE(listing.ok());
    std::vector<std::string> tiedPair;
    for (const std::string& name : NamesOf(listing.value())) {
        if (name == "Photo.jpg" || name == "photo.jpg") tiedPair.push_back(name);
    }

    struct Case {
        int mode;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {1, {"apple.gif", "Banana.png", "cherry.jpg", "DATE.bmp", tiedPair[0], tiedPair[1]}},
        {2, {tiedPair[0], tiedPair[1], "DATE.bmp", "cherry.jpg", "Banana.png", "apple.gif"}},
        {0, {"apple.gif", "Banana.png", "cherry.jpg", "DATE.bmp", "Photo.jpg", "photo.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        Gallery g(c.mode);
        ASSERT_TRUE(g.model.LoadFolder(dir.path()).ok());
        EXPECT_EQ(NamesOf(g.files), c.expected);
        ExpectConsistentWithCompare(g.model);
    }
}

// A container sorts by its picture's name, so encrypting a picture moves no tile; a picture and
// its container side by side keep one order, the picture first in either direction.
TEST(FolderSort, ContainersStandWhereTheirPicturesWould)
{
    TempDir dir;
    for (const char* name : {"$img10.jpg", "eel.jpg", "$cat.jpg", "img9.jpg", "banana.gif", "$Dog.bmp", "cat.jpg",
                             "$apple.png", "$fig.png", "Fig.png"})
        MakeFile(dir, name);
    struct Case {
        int mode;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {0,
         {"$apple.png", "banana.gif", "cat.jpg", "$cat.jpg", "$Dog.bmp", "eel.jpg", "Fig.png", "$fig.png", "img9.jpg",
          "$img10.jpg"}},
        {1,
         {"$apple.png", "banana.gif", "cat.jpg", "$cat.jpg", "$Dog.bmp", "eel.jpg", "Fig.png", "$fig.png", "$img10.jpg",
          "img9.jpg"}},
        {2,
         {"img9.jpg", "$img10.jpg", "Fig.png", "$fig.png", "eel.jpg", "$Dog.bmp", "cat.jpg", "$cat.jpg", "banana.gif",
          "$apple.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        Gallery g(c.mode);
        ASSERT_TRUE(g.model.LoadFolder(dir.path()).ok());
        EXPECT_EQ(NamesOf(g.files), c.expected);
        ExpectConsistentWithCompare(g.model);
    }

    const std::pair<std::string_view, std::string_view> pictures[] = {
        {"$cat.jpg", "cat.jpg"}, {"cat.jpg", "cat.jpg"}, {"$$cat.jpg", "$cat.jpg"}, {"$", "$"}, {"", ""}};
    for (const auto& [name, picture] : pictures)
        EXPECT_EQ(PictureNameOf(name), picture) << name;
}

TEST(FolderSort, ByDateUsesNewestOrOldestTimeAndKeepsTies)
{
    struct Case {
        const char* what;
        int mode;
        std::vector<std::pair<std::string, long>> files;  // name, modification time offset in seconds
        std::vector<std::string> expected;
    };
    // Newest takes the later of creation and modification time, but a creation later than the
    // modification (a container or a copy that kept its picture's date) does not count; oldest
    // takes the earlier, so only past times order mode 4. Ties differ in pattern so that their
    // listing order is known: jpg before png.
    const Case cases[] = {
        {"newest first", 3, {{"a.jpg", 1000}, {"b.jpg", 3000}, {"c.png", 2000}}, {"b.jpg", "c.png", "a.jpg"}},
        {"newest first, made now with older dates",
         3,
         {{"a.jpg", -1000}, {"b.jpg", -3000}, {"c.png", -2000}},
         {"a.jpg", "c.png", "b.jpg"}},
        {"oldest first", 4, {{"a.jpg", -1000}, {"b.jpg", -3000}, {"c.png", -2000}}, {"b.jpg", "c.png", "a.jpg"}},
        {"newest first, tie", 3, {{"z.jpg", 5000}, {"a.png", 5000}, {"m.gif", 9000}}, {"m.gif", "z.jpg", "a.png"}},
        {"oldest first, tie", 4, {{"z.jpg", -5000}, {"a.png", -5000}, {"m.gif", -9000}}, {"m.gif", "z.jpg", "a.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const auto& [name, offset] : c.files)
            MakeFile(dir, name, offset);
        Gallery g(c.mode);
        ASSERT_TRUE(g.model.LoadFolder(dir.path()).ok());
        EXPECT_EQ(NamesOf(g.files), c.expected);
        ExpectConsistentWithCompare(g.model);
    }
}

TEST(FolderSort, UnopenableFileSortsAsOldest)
{
    if (!test::PermissionsAreEnforced()) GTEST_SKIP() << "permissions do not stop root from opening the file";
    TempDir dir;
    MakeFile(dir, "old.jpg", -5000);
    MakeFile(dir, "older.jpg", -9000);
    MakeFile(dir, "locked.png", 5000);
    ::chmod((dir / "locked.png").c_str(), 0);

    EXPECT_EQ(FileSortTime(dir / "locked.png", true), kUnreadableTime);
    Gallery oldestFirst(4);
    ASSERT_TRUE(oldestFirst.model.LoadFolder(dir.path()).ok());
    EXPECT_EQ(NamesOf(oldestFirst.files), (std::vector<std::string>{"locked.png", "older.jpg", "old.jpg"}));
    Gallery newestFirst(3);
    ASSERT_TRUE(newestFirst.model.LoadFolder(dir.path()).ok());
    EXPECT_EQ(NamesOf(newestFirst.files).back(), "locked.png");
}

TEST(FolderSort, MissingFileHasTheUnreadableTime)
{
    TempDir dir;
    EXPECT_EQ(FileSortTime(dir / "gone.jpg", false), kUnreadableTime);
    MakeFile(dir, "before-epoch.jpg");
    const timespec times[2] = {{-100000, 0}, {-100000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "before-epoch.jpg").c_str(), times, 0), 0);
    EXPECT_LT(kUnreadableTime, FileSortTime(dir / "before-epoch.jpg", false));
}

TEST(SortButton, StepsThroughModesAndLabels)
{
    const std::pair<int, int> steps[] = {{0, 1}, {1, 2}, {3, 4}, {4, 0}, {7, 3}, {-1, 0}, {-3, 3}};
    for (const auto& [from, to] : steps)
        EXPECT_EQ(NextSortMode(from), to) << "from " << from;
    EXPECT_STREQ(SortModeLabelsOf(0).shortLabel, "Windows");
    EXPECT_STREQ(SortModeLabelsOf(3).longLabel, "Sort by date (newest first)");
    EXPECT_STREQ(SortModeLabelsOf(4).shortLabel, "old-new");
    EXPECT_STREQ(SortModeLabelsOf(5).shortLabel, "");
    EXPECT_STREQ(SortModeLabelsOf(-1).longLabel, "");
}

TEST(SortButton, RestoresCurrentAndSelectionByPath)
{
    TempDir dir;
    // Oldest first lists b, a, c; the next mode ("Windows") lists by name.
    MakeFile(dir, "b.jpg", -3000);
    MakeFile(dir, "a.png", -2000);
    MakeFile(dir, "c.gif", -1000);
    const std::string b = dir / "b.jpg", a = dir / "a.png", c = dir / "c.gif";

    struct Case {
        const char* what;
        int current;
        std::vector<int> selected;
        std::string viewerPath;
        int expectedCurrent;
        std::vector<int> expectedSelection;
    };
    const Case cases[] = {
        {"current tile wins", 0, {0, 2}, c, 1, {1, 2}},
        {"no tile: viewer path", -1, {1}, c, 2, {0}},
        {"no tile, viewer path not listed", -1, {}, dir / "other.jpg", -1, {}},
        {"stale positions are dropped", 9, {9, 2}, "", -1, {2}},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.what);
        Gallery g(4);
        g.model.OpenFolder(dir.path() + "/");
        ASSERT_TRUE(g.model.LoadFolder(dir.path()).ok());
        ASSERT_EQ(g.files, (FileList{b, a, c}));
        g.model.MakeCurrent(t.current);
        g.model.Select(t.selected);
        ASSERT_TRUE(g.model.CycleSortMode(t.viewerPath).ok());
        EXPECT_EQ(g.options.SortMode, 0);
        EXPECT_EQ(g.listener.savedModes, std::vector<int>{0});
        EXPECT_EQ(g.files, (FileList{a, b, c}));
        EXPECT_EQ(g.model.CurrentIndex(), t.expectedCurrent);
        EXPECT_EQ(g.model.SelectedIndices(), t.expectedSelection);
    }
}

// A list filled by hand: navigation needs no folder.
void FillEntries(Gallery& g, int n)
{
    for (int i = 0; i < n; ++i)
        g.files.push_back("/f/" + std::to_string(i) + ".jpg");
}

TEST(Navigation, NextAndPrevStopAtBothEnds)
{
    struct Case {
        int count;
        int current;
        bool next;
        int expectedReturn;
        int expectedCurrent;
    };
    // The result is the stepped index before SetCurrentIndex clamps it: PrevFile from -1 answers
    // -1 and leaves entry 0 current; a stale index past the end is clamped only as made current.
    const Case cases[] = {
        {0, -1, true, -1, -1}, {0, -1, false, -1, -1}, {3, -1, true, 0, 0}, {3, 0, true, 1, 1},
        {3, 2, true, 2, 2},    {3, 2, false, 1, 1},    {3, 0, false, 0, 0}, {3, -1, false, -1, 0},
        {3, 7, true, 7, 2},    {3, 7, false, 6, 2},    {1, 0, true, 0, 0},  {1, 0, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << c.count << ", current " << c.current
                                        << (c.next ? ", next" : ", prev"));
        Gallery g;
        FillEntries(g, c.count);
        FolderModel& model = g.model;
        model.MakeCurrent(c.current);
        model.AnchorAt(5);
        const int returned = c.next ? model.NextFile() : model.PrevFile();
        EXPECT_EQ(returned, c.expectedReturn);
        EXPECT_EQ(model.CurrentIndex(), c.expectedCurrent);
        if (c.count > 0) {
            EXPECT_EQ(model.SelectedIndices(), std::vector<int>{c.expectedCurrent});
        }
        EXPECT_EQ(model.AnchorIndex(), 5);
        EXPECT_TRUE(model.FocusPath().empty());
    }
}

TEST(Navigation, LookupsCompareWholePathsExactly)
{
    Gallery g;
    g.files = {"/f/a.jpg", "/f/B.jpg", "/f/a.jpg"};
    FolderModel& model = g.model;
    EXPECT_EQ(model.IndexOfFile("/f/a.jpg"), 0);
    EXPECT_EQ(model.IndexOfFile("/f/b.jpg"), -1);
    EXPECT_EQ(model.IndexOfFile("a.jpg"), -1);
    EXPECT_EQ(model.IndexOfFile(""), -1);
    EXPECT_EQ(model.CurrentFileName(), "");
    model.MakeCurrent(3);
    EXPECT_EQ(model.CurrentFileName(), "");

    model.SelectFile("/f/A.jpg");
    EXPECT_EQ(model.CurrentIndex(), 3);
    model.SelectFile("/f/B.jpg");
    EXPECT_EQ(model.CurrentIndex(), 1);
    EXPECT_EQ(model.SelectedIndices(), std::vector<int>{1});
    EXPECT_EQ(model.CurrentFileName(), "/f/B.jpg");
}

TEST(Navigation, SyncToFileLoadsOnlyWhenNeeded)
{
    TempDir dir;
    for (const char* name : {"a.jpg", "b.png"})
        MakeFile(dir, name);
    Gallery g;
    ASSERT_TRUE(g.model.LoadFolder(dir.path()).ok());  // without the trailing "/"
    g.listener.rebuilds.clear();

    g.model.SyncToFile(dir / "b.png", false);
    EXPECT_TRUE(g.listener.rebuilds.empty()) << "same folder, written with a separator";
    EXPECT_EQ(g.model.CurrentIndex(), 1);

    MakeFile(dir, "c.gif");
    g.model.SyncToFile(dir / "c.gif", false);
    EXPECT_EQ(g.model.CurrentIndex(), 0) << "not reloaded, so not listed";
    g.model.SyncToFile(dir / "c.gif", true);
    EXPECT_EQ(g.model.CurrentIndex(), 2);
    EXPECT_EQ(g.model.LoadedFolder(), dir.path() + "/");

    g.model.SyncToFile(dir / "A.JPG", false);
    EXPECT_EQ(g.model.CurrentIndex(), 0) << "a path differing in case is another file";

    g.listener.rebuilds.clear();
    g.model.SyncToFile("", true);
    g.model.SyncToFile("bare.jpg", true);
    EXPECT_TRUE(g.listener.rebuilds.empty());
    EXPECT_EQ(g.model.CurrentIndex(), 0);

    TempDir other;
    MakeFile(other, "x.jpg");
    MakeFile(other, "y.jpg");
    g.model.SyncToFile(other / "y.jpg", false);
    EXPECT_EQ(g.files.size(), 2u);
    EXPECT_EQ(g.model.CurrentFileName(), other / "y.jpg");

    g.model.SyncToFile(dir / "gone/z.jpg", false);
    EXPECT_TRUE(g.files.empty());
    EXPECT_EQ(g.model.CurrentIndex(), -1);
    EXPECT_EQ(g.model.CurrentFileName(), "");
}

TEST(Focus, FocusTileClampsAndApplyFocusPathFindsThePathAgain)
{
    Gallery g;
    FillEntries(g, 3);
    FolderModel& model = g.model;
    const std::pair<int, int> clamps[] = {{-4, 0}, {1, 1}, {99, 2}};
    for (const auto& [asked, made] : clamps) {
        model.FocusTile(asked);
        EXPECT_EQ(model.CurrentIndex(), made);
        EXPECT_EQ(model.FocusPath(), g.files[static_cast<std::size_t>(made)]);
        EXPECT_EQ(g.listener.visibleRequests.back(), made);
    }

    model.FocusOnShow("/f/1.JPG");
    model.ApplyFocusPath();
    EXPECT_EQ(model.CurrentIndex(), 2);
    EXPECT_EQ(model.FocusPath(), "/f/1.JPG") << "kept for a later try";
    model.FocusOnShow("/f/1.jpg");
    model.ApplyFocusPath();
    EXPECT_EQ(model.CurrentIndex(), 1);
    EXPECT_TRUE(model.FocusPath().empty());

    g.files.clear();
    model.FocusTile(1);
    EXPECT_EQ(model.CurrentIndex(), -1);
}

TEST(Focus, RefreshKeepsTheCurrentFile)
{
    TempDir dir;
    for (const char* name : {"b.jpg", "c.jpg"})
        MakeFile(dir, name);
    Gallery g(1);
    g.model.OpenFolder(dir.path() + "/");
    ASSERT_TRUE(g.model.RefreshGallery().ok());
    g.model.SetCurrentIndex(1);

    MakeFile(dir, "a.jpg");
    g.listener.visibleRequests.clear();
    ASSERT_TRUE(g.model.RefreshGallery().ok());
    EXPECT_EQ(g.model.CurrentFileName(), dir / "c.jpg");
    EXPECT_EQ(g.listener.visibleRequests, std::vector<int>{2}) << "scrolled into view";
    EXPECT_TRUE(g.model.FocusPath().empty());
    EXPECT_EQ(g.model.SelectedIndices(), std::vector<int>{2}) << "the selection stays on its file";

    std::filesystem::remove(dir / "c.jpg");
    ASSERT_TRUE(g.model.RefreshGallery().ok());
    EXPECT_EQ(g.model.CurrentIndex(), -1);
    EXPECT_TRUE(g.model.SelectedIndices().empty());
    EXPECT_TRUE(g.model.FocusPath().empty()) << "a file that is gone is not looked for again";

    // Should it come back, it does not become current unasked.
    MakeFile(dir, "c.jpg");
    ASSERT_TRUE(g.model.RefreshGallery().ok());
    EXPECT_EQ(g.model.CurrentIndex(), -1);
}

TEST(FolderChanges, ParentFolder)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/home/u/pics/", "/home/u/"},
        {"/home/u/pics", "/home/u/"},
        {"/home/", "/"},
        {"/home", "/"},
        {"/", "/"},
        {"", ""},
    };
    for (const auto& [box, parent] : cases)
        EXPECT_EQ(ParentFolder(box), parent) << "from " << box;
}

TEST(FolderChanges, FolderUpResetsCurrentAndSelection)
{
    TempDir dir;
    MakeFile(dir, "top.jpg");
    std::filesystem::create_directory(dir / "sub");
    MakeFile(dir, "sub/inner.png");
    Gallery g;
    g.listener.visible = true;
    g.model.OpenFolder(dir / "sub/");
    g.model.SetCurrentIndex(0);
    g.model.FocusOnShow(dir / "sub/inner.png");

    ASSERT_TRUE(g.model.FolderUp().ok());
    EXPECT_EQ(g.model.FolderBox(), dir.path() + "/");
    EXPECT_EQ(g.listener.folderBox, dir.path() + "/");
    EXPECT_EQ(g.files, FileList{dir / "top.jpg"});
    EXPECT_EQ(g.model.CurrentIndex(), -1);
    EXPECT_TRUE(g.model.SelectedIndices().empty());
    EXPECT_TRUE(g.model.FocusPath().empty());
    EXPECT_EQ(g.listener.statusRefreshes, 1);

    Gallery root;
    root.model.OpenFolder("/");
    ASSERT_TRUE(root.model.FolderUp().ok());
    EXPECT_EQ(root.model.FolderBox(), "/");
    EXPECT_EQ(root.model.LoadedFolder(), "/");
}

TEST(FolderChanges, FolderUpToAMissingFolderChangesNothing)
{
    TempDir dir;
    Gallery g;
    g.model.OpenFolder(dir / "gone/sub/");
    g.model.MakeCurrent(2);
    g.model.Select({2});
    EXPECT_FALSE(g.model.FolderUp().ok());
    EXPECT_EQ(g.model.FolderBox(), dir / "gone/sub/");
    EXPECT_EQ(g.model.CurrentIndex(), 2);
    EXPECT_EQ(g.model.SelectedIndices(), std::vector<int>{2});
    EXPECT_TRUE(g.listener.rebuilds.empty());
}

TEST(FolderChanges, ChosenFolderIsSavedShownAndLoaded)
{
    TempDir dir;
    MakeFile(dir, "a.jpg");
    Gallery g;
    g.model.MakeCurrent(4);
    ASSERT_TRUE(g.model.ChooseFolder("").ok());
    EXPECT_TRUE(g.listener.lastDir.empty());
    EXPECT_TRUE(g.listener.rebuilds.empty());

    ASSERT_TRUE(g.model.ChooseFolder(dir.path()).ok());
    EXPECT_EQ(g.listener.lastDir, dir.path());
    EXPECT_EQ(g.model.FolderBox(), dir.path() + "/");
    EXPECT_EQ(g.model.LoadedFolder(), dir.path());
    EXPECT_EQ(g.files, FileList{dir / "a.jpg"});
    EXPECT_EQ(g.model.CurrentIndex(), -1) << "another folder: nothing current";
    EXPECT_EQ(g.model.BrowseStartFolder(), dir.path() + "/");
}

TEST(FolderChanges, OpenFolderLoadsOnlyWhenTheGalleryIsVisible)
{
    TempDir dir;
    MakeFile(dir, "a.jpg");
    Gallery g;
    g.model.OpenFolder(dir.path() + "/");
    EXPECT_EQ(g.model.FolderBox(), dir.path() + "/");
    EXPECT_TRUE(g.files.empty());
    g.listener.visible = true;
    g.model.OpenFolder(dir.path() + "/");
    EXPECT_EQ(g.files, FileList{dir / "a.jpg"});
}

// Whatever rebuilds the list (F5, the end of a run, the viewer's reload, OpenFolder, the sort
// button), the current tile, the anchor and the selection stay on the files the user chose.
TEST(Rebuild, ChosenFilesFollowTheirPaths)
{
    struct Case {
        const char* what;
        std::vector<std::string> add;
        std::vector<std::string> remove;
        std::vector<std::string> expectedSelection;  // in selection order
        std::string expectedCurrent;                 // empty: none
        std::string expectedAnchor;
    };
    // Before: b c d e f, selected d then c (in that order), current d, anchor c.
    const Case cases[] = {
        {"nothing changed", {}, {}, {"d.jpg", "c.jpg"}, "d.jpg", "c.jpg"},
        {"a file added before", {"a.jpg"}, {}, {"d.jpg", "c.jpg"}, "d.jpg", "c.jpg"},
        {"files added between and after", {"cc.jpg", "z.jpg"}, {}, {"d.jpg", "c.jpg"}, "d.jpg", "c.jpg"},
        {"a file removed before", {}, {"b.jpg"}, {"d.jpg", "c.jpg"}, "d.jpg", "c.jpg"},
        {"the current file gone", {}, {"d.jpg"}, {"c.jpg"}, "", "c.jpg"},
        {"every chosen file gone", {"a.jpg"}, {"c.jpg", "d.jpg"}, {}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const char* name : {"b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"})
            MakeFile(dir, name);
        Gallery g(1);
        ASSERT_TRUE(g.model.LoadFolder(dir.path()).ok());
        g.model.Select({g.model.IndexOfFile(dir / "d.jpg"), g.model.IndexOfFile(dir / "c.jpg"), 17});
        g.model.MakeCurrent(g.model.IndexOfFile(dir / "d.jpg"));
        g.model.AnchorAt(g.model.IndexOfFile(dir / "c.jpg"));
        for (const std::string& name : c.add)
            MakeFile(dir, name);
        for (const std::string& name : c.remove)
            std::filesystem::remove(dir / name);

        // With and without the trailing "/": the same folder.
        ASSERT_TRUE(g.model.LoadFolder(dir.path() + "/").ok());
        std::vector<std::string> selected;
        for (const int i : g.model.SelectedIndices())
            selected.push_back(FileNameOf(g.files.at(static_cast<std::size_t>(i))));
        EXPECT_EQ(selected, c.expectedSelection);
        EXPECT_EQ(FileNameOf(g.model.CurrentFileName()), c.expectedCurrent);
        const int anchor = g.model.AnchorIndex();
        EXPECT_EQ(anchor < 0 ? std::string() : FileNameOf(g.files.at(static_cast<std::size_t>(anchor))),
                  c.expectedAnchor);
    }
}

TEST(Rebuild, AnotherFolderStartsWithNothingChosen)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    for (const char* name : {"a.jpg", "b.jpg", "sub/a.jpg", "sub/b.jpg"})
        MakeFile(dir, name);
    const auto chooseB = [&dir](Gallery& g) {
        ASSERT_TRUE(g.model.LoadFolder(dir.path()).ok());
        g.model.SetCurrentIndex(1);
        g.model.AnchorAt(1);
        g.model.FocusOnShow({});
    };
    struct Case {
        const char* what;
        std::function<void(Gallery&)> change;
    };
    const Case cases[] = {
        {"LoadFolder", [&](Gallery& g) { ASSERT_TRUE(g.model.LoadFolder(dir / "sub").ok()); }},
        {"ChooseFolder", [&](Gallery& g) { ASSERT_TRUE(g.model.ChooseFolder(dir / "sub").ok()); }},
        {"OpenFolder",
         [&](Gallery& g) {
             g.listener.visible = true;
             g.model.OpenFolder(dir / "sub/");
         }},
        {"a folder that cannot be read", [&](Gallery& g) { EXPECT_FALSE(g.model.LoadFolder(dir / "gone").ok()); }},
        {"an empty folder text", [&](Gallery& g) { ASSERT_TRUE(g.model.LoadFolder("").ok()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Gallery g;
        chooseB(g);
        c.change(g);
        EXPECT_EQ(g.model.CurrentIndex(), -1);
        EXPECT_EQ(g.model.AnchorIndex(), -1);
        EXPECT_TRUE(g.model.SelectedIndices().empty());
        EXPECT_EQ(g.model.CurrentFileName(), "");
    }

    // The viewer's SyncToFile into another folder makes its file the current and only selected one.
    Gallery g;
    chooseB(g);
    g.model.SyncToFile(dir / "sub/a.jpg", false);
    EXPECT_EQ(g.model.CurrentFileName(), dir / "sub/a.jpg");
    EXPECT_EQ(g.model.SelectedIndices(), std::vector<int>{0});
    EXPECT_EQ(g.model.AnchorIndex(), -1);
}

// A file chosen twice would be copied, encrypted or deleted twice: however the selection is made,
// each index stays once, where it was first chosen.
TEST(Selection, NoFileIsChosenTwice)
{
    Gallery g;
    g.files = {"/f/a.jpg", "/f/b.jpg", "/f/c.jpg"};
    g.model.Select({2, 0, 2, 1, 0});
    EXPECT_EQ(g.model.SelectedIndices(), (std::vector<int>{2, 0, 1}));
    g.model.AddToSelection(0);
    EXPECT_EQ(g.model.SelectedIndices(), (std::vector<int>{2, 0, 1}));
    g.model.RemoveFromSelection(0);
    g.model.AddToSelection(0);
    EXPECT_EQ(g.model.SelectedIndices(), (std::vector<int>{2, 1, 0}));
    EXPECT_TRUE(g.model.IsSelected(1));
    g.model.ChooseOnly(1);
    EXPECT_EQ(g.model.SelectedIndices(), std::vector<int>{1});
    EXPECT_EQ(g.model.AnchorIndex(), 1);
    EXPECT_FALSE(g.model.IsSelected(2));
}

// The viewer steps through the gallery's list and reloads it after its own file operations:
// a file that appears before the shown one does not change which file is current.
TEST(Rebuild, ViewerStepsAndReloadsStayOnTheShownFile)
{
    TempDir dir;
    for (const char* name : {"b.jpg", "c.jpg", "d.jpg"})
        MakeFile(dir, name);
    Gallery g(1);
    g.model.SyncToFile(dir / "b.jpg", false);
    g.model.NextFile();
    EXPECT_EQ(g.model.CurrentFileName(), dir / "c.jpg");

    MakeFile(dir, "a.jpg");
    g.model.SyncToFile(dir / "c.jpg", true);
    EXPECT_EQ(g.model.CurrentFileName(), dir / "c.jpg");
    EXPECT_EQ(g.model.SelectedIndices(), std::vector<int>{2});
    g.model.NextFile();
    EXPECT_EQ(g.model.CurrentFileName(), dir / "d.jpg");
    g.model.PrevFile();
    g.model.PrevFile();
    EXPECT_EQ(g.model.CurrentFileName(), dir / "b.jpg");
}

}  // namespace
}  // namespace quillix::browse
