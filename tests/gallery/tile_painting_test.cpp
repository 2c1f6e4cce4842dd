#include "gallery/tile_painting.h"

#include <gtest/gtest.h>

#include <string>

namespace quillix::gallery {
namespace {

TEST(TilePainting, RowsTheClipTouches)
{
    const TileLayout layout = UpdateLayout(300, 128, 9);  // 2 columns, 5 rows, 158 pixels apart
    struct Case {
        int top;
        int bottom;
        RowSpan rows;
    };
    const Case cases[] = {
        {0, 484, {0, 2}},   {0, 170, {0, 0}},                       // row 1 starts at 170, just outside
        {0, 171, {0, 1}},   {169, 171, {0, 1}},                     // the gap under row 0 belongs to row 0's band
        {170, 171, {1, 1}}, {500, 800, {3, 4}}, {0, 5000, {0, 4}},  // no row past the last
        {-100, 10, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.top << ".." << c.bottom);
        EXPECT_EQ(RowsTouched(layout, c.top, c.bottom), c.rows);
    }
    EXPECT_TRUE(RowsTouched(UpdateLayout(300, 128, 0), 0, 500).empty());
}

TEST(TilePainting, ThumbnailPlacedInItsWell)
{
    const Rect well{24, 24, 128, 128};  // tile 0 at T = 128: 104 square
    struct Case {
        Size thumbnail;
        Rect drawn;
    };
    const Case cases[] = {
        {{104, 52}, {26, 52, 126, 100}},  // a 1000 x 500 photo: 100 x 48, 2 in from the sides, 28 from the top
        {{52, 104}, {52, 26, 100, 126}},
        {{104, 104}, {26, 26, 126, 126}},  // a 50 x 50 picture enlarged to the well
        {{232, 116}, {26, 52, 126, 100}},  // made at T = 256 and shown at 128
        {{26, 52}, {52, 26, 100, 126}},    // smaller than the well: scaled up when drawn
        {{103, 104}, {26, 26, 125, 126}},  // an odd remainder goes right
        {{104, 3}, {26, 75, 126, 76}},     // too thin for the 4 pixels: one line
        {{0, 52}, {}},
        {{104, -1}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.thumbnail.width << "x" << c.thumbnail.height);
        EXPECT_EQ(ThumbnailDrawRect(well, c.thumbnail), c.drawn);
    }
    EXPECT_EQ(ThumbnailDrawRect({0, 0, 0, 0}, {10, 10}), Rect{});
    // Fitting must not lose a pixel to rounding: 3 pixels scaled to 104 stay 104.
    EXPECT_EQ(ThumbnailDrawRect(well, {3, 3}).width(), 100);
    EXPECT_EQ(ThumbnailDrawRect(well, {3, 1}).width(), 100);
}

TEST(TilePainting, NameStripMetrics)
{
    EXPECT_EQ(NameWidthLimit(128), 122);
    EXPECT_EQ(NameTextOffset(13), 2);
    EXPECT_EQ(NameTextOffset(18), 0);
}

// 6 pixels a character; "W" is 20, "." 2, and a two-byte UTF-8 character 7.
int Measure(const std::string& text)
{
    int width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0xC0) {
            width += 7;
            ++i;
        } else if (byte == 'W') {
            width += 20;
        } else if (byte == '.') {
            width += 2;
        } else {
            width += 6;
        }
    }
    return width;
}

TEST(TilePainting, FitNameToWidth)
{
    struct Case {
        std::string name;
        int max;
        std::string expected;
    };
    const Case cases[] = {
        {"photo.jpg", 122, "photo.jpg"},
        {"photo.jpg", 50, "photo.jpg"},   // exactly 50
        {"photo.jpg", 49, "photo.j..."},  // "photo.jp" and "..." make 50
        {"abcdefghij", 40, "abcde..."},   // "abcdef" and "..." make 42
        {"Wide", 20, "..."},              // the first character alone is too wide
        {"Wide", 5, "..."},               // even "..." is too wide: it still shows
        {"", 0, ""},
        {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 27, "\xc3\xa9\xc3\xa9\xc3\xa9..."},  // whole characters only
        {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 19, "\xc3\xa9..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " in " << c.max);
        EXPECT_EQ(FitNameToWidth(c.name, c.max, Measure), c.expected);
    }
}

}  // namespace
}  // namespace quillix::gallery
