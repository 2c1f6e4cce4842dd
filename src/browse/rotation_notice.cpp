#include "browse/rotation_notice.h"

#include "common/paths.h"
#include "imaging/image_format.h"

#include <cctype>

namespace quillix::browse {

std::optional<BatchNotice> RotationNotice(const imaging::RotationOutcome& outcome)
{
    using Kind = imaging::RotationOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Turned:
    case Kind::NotTurnable:
    case Kind::Lossy: return std::nullopt;
    case Kind::Encrypted:
        return BatchNotice{"Rotate", "RotateImageFile90: Encrypted files are not rotated.\nPlease decrypt first."};
    case Kind::Animated: return BatchNotice{"Rotate WebP", "Rotation of animated WebP images is not implemented yet."};
    case Kind::Failed: return BatchNotice{"Rotate", "Error while rotating image file."};
    }
    return std::nullopt;
}

std::optional<std::string> RotationStatus(const imaging::RotationOutcome& outcome)
{
    if (outcome.kind != imaging::RotationOutcome::Kind::Lossy) return std::nullopt;
    const std::string name = FileNameOf(outcome.path);
    std::string kind = "HEIF";
    if (imaging::FormatFromExtension(outcome.path) == imaging::ImageFormat::Jxl) {
        kind = "JPEG XL";
    } else if (name.size() >= 5) {
        std::string ext = name.substr(name.size() - 5);
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".avif") kind = "AVIF";
    }
    return name + " was not turned: " + kind + " pictures cannot be turned without loss. The file is unchanged.";
}

std::string RotationStatusForMany(int count)
{
    return std::to_string(count) +
           " pictures were not turned: HEIF, AVIF and JPEG XL pictures cannot be turned without loss. The files "
           "are unchanged.";
}

}  // namespace quillix::browse
