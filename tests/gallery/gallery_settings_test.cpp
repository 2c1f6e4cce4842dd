#include "gallery/gallery_settings.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillix::gallery {
namespace {

using settings::SettingsStore;

TEST(TileSizeSetting, StoredValueOrFallback)
{
    struct Case {
        std::optional<std::string> stored;  // nothing: no TILE_SIZE row
        int current;
        int expected;
        bool written;
    };
    const Case cases[] = {
        {std::nullopt, 0, 128, true},  // first start
        {"20", 0, 128, true},          {"801", 0, 128, true},
        {"abc", 0, 128, true},         {"32", 0, 32, false},  // the ends of the stored range are taken as they are
        {"800", 0, 800, false},        {" 200 ", 0, 200, false},
        {"20", 256, 256, false},  // a bad value keeps a good current size
        {std::nullopt, 96, 96, false}, {"abc", 900, 128, true},
        {"512", 900, 512, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.stored ? *c.stored : "(none)") << " current " << c.current);
        SettingsStore store;
        if (c.stored) store.PushString("TILE_SIZE", *c.stored);
        const TileSizeChoice choice = LoadTileSize(store, c.current);
        EXPECT_EQ(choice.TileSize, c.expected);
        EXPECT_EQ(choice.stored, c.written);
        if (c.written) {
            EXPECT_EQ(store.GetString("TILE_SIZE"), std::to_string(c.expected));
        } else {
            EXPECT_EQ(store.Exist("TILE_SIZE"), c.stored.has_value());
        }
    }
}

TEST(WindowPlacementSetting, ClampedToTheScreen)
{
    const WindowBounds screen{0, 0, 1920, 1080};
    const WindowBounds current{100, 100, 900, 640};
    struct Case {
        const char* left;
        const char* top;
        const char* width;
        const char* height;
        WindowBounds expected;
    };
    const Case cases[] = {
        {"5000", "40", "800", "600", {1870, 40, 800, 600}},  // 50 pixels inside the right edge
        {"10", "3000", "800", "600", {10, 1030, 800, 600}},
        {"-300", "-20", "800", "600", {0, 0, 800, 600}},
        {nullptr, nullptr, nullptr, nullptr, current},   // missing: the window's own bounds
        {"x", "", "wide", "tall", current},              // not numbers: the same
        {"0", "0", "5000", "3000", {0, 0, 1920, 1080}},  // never larger than the screen
        {"0", "0", "0", "-5", {0, 0, kMinRestoredWidth, kMinRestoredHeight}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.left ? c.left : "-") << " " << (c.top ? c.top : "-"));
        SettingsStore store;
        store.PushString("Form2.WindowState", "0");
        if (c.left) store.PushString("Form2.Left", c.left);
        if (c.top) store.PushString("Form2.Top", c.top);
        if (c.width) store.PushString("Form2.Width", c.width);
        if (c.height) store.PushString("Form2.Height", c.height);
        const std::optional<WindowPlacement> placement = LoadWindowPlacement(store, current, screen);
        ASSERT_TRUE(placement.has_value());
        EXPECT_EQ(placement->state, WindowState::Normal);
        EXPECT_EQ(placement->bounds, c.expected);
    }
    // A screen that does not start at 0, 0 keeps the window on it too.
    EXPECT_EQ(ClampToScreen({0, 5000, 800, 600}, {1920, 0, 1280, 1024}), (WindowBounds{1920, 974, 800, 600}));
}

TEST(WindowPlacementSetting, StateDecidesWhetherAndHowToRestore)
{
    const WindowBounds screen{0, 0, 1920, 1080};
    const WindowBounds current{100, 100, 900, 640};
    struct Case {
        std::optional<std::string> state;
        bool restored;
        WindowState expected;
    };
    const Case cases[] = {
        {std::nullopt, false, WindowState::Normal},  // stored bounds are ignored
        {"", false, WindowState::Normal},           {"0", true, WindowState::Normal},
        {"1", true, WindowState::Normal},  // minimized comes back as a normal window
        {"2", true, WindowState::Maximized},        {"7", true, WindowState::Normal},
        {"max", true, WindowState::Normal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state ? *c.state : "(none)");
        SettingsStore store;
        if (c.state) store.PushString("Form2.WindowState", *c.state);
        store.PushString("Form2.Left", "300");
        const std::optional<WindowPlacement> placement = LoadWindowPlacement(store, current, screen);
        ASSERT_EQ(placement.has_value(), c.restored);
        if (!placement) continue;
        EXPECT_EQ(placement->state, c.expected);
        EXPECT_EQ(placement->bounds, (WindowBounds{300, 100, 900, 640}));
    }
}

TEST(WindowPlacementSetting, SaveWritesOnlyWhatChangedAndKeepsNormalBoundsWhileMaximized)
{
    SettingsStore store;
    const WindowBounds normal{40, 50, 1000, 700};
    EXPECT_TRUE(SaveWindowPlacement(store, WindowState::Normal, normal, 128));
    EXPECT_EQ(store.GetString("Form2.WindowState"), "0");
    EXPECT_EQ(store.GetInt("TILE_SIZE"), 128);
    EXPECT_EQ(store.GetInt("Form2.Left"), 40);
    EXPECT_EQ(store.GetInt("Form2.Top"), 50);
    EXPECT_EQ(store.GetInt("Form2.Width"), 1000);
    EXPECT_EQ(store.GetInt("Form2.Height"), 700);
    EXPECT_FALSE(SaveWindowPlacement(store, WindowState::Normal, normal, 128)) << "nothing new to write";

    EXPECT_TRUE(SaveWindowPlacement(store, WindowState::Maximized, {0, 0, 1920, 1080}, 128));
    EXPECT_EQ(store.GetString("Form2.WindowState"), "2");
    EXPECT_EQ(store.GetInt("Form2.Width"), 1000) << "a maximized window keeps the normal bounds";
    EXPECT_FALSE(SaveWindowPlacement(store, WindowState::Maximized, {0, 0, 1920, 1080}, 128));
    EXPECT_TRUE(SaveWindowPlacement(store, WindowState::Maximized, {0, 0, 1920, 1080}, 144));
    EXPECT_EQ(store.GetInt("TILE_SIZE"), 144);
    EXPECT_TRUE(SaveWindowPlacement(store, WindowState::Minimized, {0, 0, 10, 10}, 144));
    EXPECT_EQ(store.GetString("Form2.WindowState"), "1");
    EXPECT_EQ(store.GetInt("Form2.Left"), 40);

    // A bound changed by hand in the file is written back.
    store.PushString("Form2.Left", "junk");
    EXPECT_TRUE(SaveWindowPlacement(store, WindowState::Normal, normal, 144));
    EXPECT_EQ(store.GetInt("Form2.Left"), 40);
}

TEST(WindowPlacementSetting, SavedPlacementComesBackFromTheFile)
{
    test::TempDir dir;
    SettingsStore store;
    store.IniFileDir = dir.path();
    ASSERT_TRUE(SaveWindowPlacement(store, WindowState::Normal, {200, 150, 1024, 768}, 176));
    ASSERT_TRUE(store.SaveToFile());

    SettingsStore reread;
    reread.IniFileDir = dir.path();
    ASSERT_TRUE(reread.LoadFromFile());
    const std::optional<WindowPlacement> placement = LoadWindowPlacement(reread, {0, 0, 640, 480}, {0, 0, 1920, 1080});
    ASSERT_TRUE(placement.has_value());
    EXPECT_EQ(placement->bounds, (WindowBounds{200, 150, 1024, 768}));
    EXPECT_EQ(LoadTileSize(reread, 0).TileSize, 176);
}

}  // namespace
}  // namespace quillix::gallery
