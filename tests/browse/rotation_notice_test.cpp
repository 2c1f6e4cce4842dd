#include "browse/rotation_notice.h"

#include <gtest/gtest.h>

namespace quillix::browse {
namespace {

using Kind = imaging::RotationOutcome::Kind;

TEST(RotationNotice, EachRefusalAndFailureHasItsBox)
{
    struct Row {
        Kind kind;
        const char* caption;  // nullptr: no box
        const char* text;
    };
    const Row rows[] = {
        {Kind::Turned, nullptr, nullptr},
        {Kind::NotTurnable, nullptr, nullptr},
        {Kind::Encrypted, "Rotate", "RotateImageFile90: Encrypted files are not rotated.\nPlease decrypt first."},
        {Kind::Animated, "Rotate WebP", "Rotation of animated WebP images is not implemented yet."},
        {Kind::Failed, "Rotate", "Error while rotating image file."},
        {Kind::Lossy, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        const std::optional<BatchNotice> notice = RotationNotice({row.kind, "/d/a.jpg"});
        if (!row.caption) {
            EXPECT_FALSE(notice) << static_cast<int>(row.kind);
            continue;
        }
        ASSERT_TRUE(notice) << row.caption;
        EXPECT_EQ(notice->caption, row.caption);
        EXPECT_EQ(notice->text, row.text);
    }
}

TEST(RotationStatus, OnlyALossyTurnIsToldInTheStatusBarNamingFileAndKind)
{
    const std::pair<const char*, const char*> rows[] = {
        {"/d/IMG_0001.HEIC", "IMG_0001.HEIC was not turned: HEIF pictures cannot be turned without loss. The file is "
                             "unchanged."},
        {"/d/a.Avif", "a.Avif was not turned: AVIF pictures cannot be turned without loss. The file is unchanged."},
        {"/d/a.jxl", "a.jxl was not turned: JPEG XL pictures cannot be turned without loss. The file is unchanged."},
    };
    for (const auto& [path, text] : rows)
        EXPECT_EQ(RotationStatus({Kind::Lossy, path}), text);
    for (const Kind kind : {Kind::Turned, Kind::NotTurnable, Kind::Encrypted, Kind::Animated, Kind::Failed})
        EXPECT_FALSE(RotationStatus({kind, "/d/a.heic"}));
}

}  // namespace
}  // namespace quillix::browse
