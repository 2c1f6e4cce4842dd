#include "gallery/list_totals.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace quillix::gallery {
namespace {

void WriteBytes(const std::string& path, std::size_t count)
{
    test::WriteFile(path, std::string(count, 'x'));
}

// The sizes are those read with the list: what happens to the files afterwards shows only when
// the list is read again; what was gone or no regular file then counts for nothing.
TEST(ListTotals, SumsTheSizesReadWithTheListOverAnySelection)
{
    test::TempDir folder;
    WriteBytes(folder / "a.jpg", 1000);
    WriteBytes(folder / "b.jpg", 20);
    WriteBytes(folder / "empty.jpg", 0);
    std::filesystem::create_directory(folder / "d.jpg");
    const browse::FileList files{folder / "a.jpg", folder / "b.jpg", folder / "gone.jpg", folder / "d.jpg",
                                 folder / "empty.jpg"};
    ListTotals totals;
    EXPECT_EQ(totals.Listed(), (FileTotals{0, 0}));
    totals.Read(files);
    EXPECT_EQ(totals.Listed(), (FileTotals{3, 1020})) << "an empty file is a file";

    const struct {
        std::vector<int> selected;
        FileTotals expected;
    } cases[] = {
        {{}, {0, 0}}, {{1}, {1, 20}}, {{1, 0}, {2, 1020}}, {{2, 3}, {0, 0}}, {{-1, 5, 0}, {1, 1000}}, {{4, 3}, {1, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(totals.Selected(c.selected), c.expected) << c.selected.size();

    std::filesystem::remove(folder / "a.jpg");
    WriteBytes(folder / "b.jpg", 30);
    EXPECT_EQ(totals.Listed(), (FileTotals{3, 1020}));
    totals.Read(files);
    EXPECT_EQ(totals.Listed(), (FileTotals{2, 30}));
    EXPECT_EQ(totals.Selected({0, 1}), (FileTotals{1, 30}));
    totals.Read({});
    EXPECT_EQ(totals.Selected({0}), (FileTotals{0, 0}));
}

}  // namespace
}  // namespace quillix::gallery
