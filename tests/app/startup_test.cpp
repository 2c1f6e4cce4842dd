#include "app/startup.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quillix::app {
namespace {

TEST(StartupTest, ArgumentLosesSurroundingBlanksAndQuotes)
{
    struct Case {
        const char* argument;
        const char* trimmed;
    };
    const Case cases[] = {
        {"/p/a.jpg", "/p/a.jpg"},
        {"  \"/p/a b.jpg\"  ", "/p/a b.jpg"},
        {"\t/p/a.jpg\r\n", "/p/a.jpg"},
        {"\"\"", ""},
        {"", ""},
        {"/p/in \"quotes\" inside.jpg", "/p/in \"quotes\" inside.jpg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TrimArgument(c.argument), c.trimmed) << c.argument;
}

TEST(StartupTest, PlanFollowsWhatTheArgumentNames)
{
    test::TempDir dir;
    const std::string root = dir.path() + "/";
    test::WriteFile(root + "a.jpg", std::string("x"));
    std::filesystem::create_directory(root + "pics");
    std::filesystem::create_directory(root + "last");

    struct Case {
        std::string argument;
        std::string lastDir;
        StartMode mode;
        std::string path;
        std::string notice;
    };
    const std::vector<Case> cases = {
        {root + "a.jpg", root + "last", StartMode::Standalone, root + "a.jpg", ""},
        {"a.jpg", "", StartMode::Standalone, root + "a.jpg", ""},  // relative to the current directory
        {root + "pics", root + "last", StartMode::Gallery, root + "pics/", ""},
        {"pics/", "", StartMode::Gallery, root + "pics/", ""},
        {root + "missing.jpg", root + "last/", StartMode::Gallery, root + "last/",
         "File not found: " + root + "missing.jpg"},
        {"gone/b.jpg", root + "deleted", StartMode::Gallery, root, "File not found: " + root + "gone/b.jpg"},
        {"", root + "last", StartMode::Gallery, root + "last/", ""},
        {"", root + "deleted", StartMode::Gallery, root, ""},
        {"", "", StartMode::Gallery, root, ""},
    };
    for (const Case& c : cases) {
        const StartPlan plan = PlanStart(c.argument, c.lastDir, dir.path());
        EXPECT_EQ(plan.mode, c.mode) << c.argument;
        EXPECT_EQ(plan.path, c.path) << c.argument;
        EXPECT_EQ(plan.notice, c.notice) << c.argument;
    }
}

TEST(StartupTest, DutiesAskThePinFirstAndRegisterWhateverItSays)
{
    for (const bool pinAccepted : {true, false}) {
        std::vector<std::string> order;
        std::function<void()> deferred;
        const bool goOn = RunStartupDuties({[&] {
                                                order.push_back("pin");
                                                return pinAccepted;
                                            },
                                            [&] { order.push_back("register"); }},
                                           [&](std::function<void()> later) { deferred = std::move(later); });
        EXPECT_EQ(goOn, pinAccepted);
        // Going on, the windows come first and the registration after them; ending, it runs now.
        const std::vector<std::string> expected =
            pinAccepted ? std::vector<std::string>{"pin"} : std::vector<std::string>{"pin", "register"};
        EXPECT_EQ(order, expected);
        EXPECT_EQ(static_cast<bool>(deferred), pinAccepted);
        if (deferred) deferred();
        EXPECT_EQ(order, (std::vector<std::string>{"pin", "register"}));
    }
    EXPECT_TRUE(RunStartupDuties({}, {}));
}

}  // namespace
}  // namespace quillix::app
