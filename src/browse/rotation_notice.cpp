#include "browse/rotation_notice.h"

namespace quillix::browse {

std::optional<BatchNotice> RotationNotice(const imaging::RotationOutcome& outcome)
{
    using Kind = imaging::RotationOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Turned:
    case Kind::NotTurnable: return std::nullopt;
    case Kind::Encrypted:
        return BatchNotice{"Rotate", "RotateImageFile90: Encrypted files are not rotated.\nPlease decrypt first."};
    case Kind::Animated: return BatchNotice{"Rotate WebP", "Rotation of animated WebP images is not implemented yet."};
    case Kind::Failed: return BatchNotice{"Rotate", "Error while rotating image file."};
    }
    return std::nullopt;
}

}  // namespace quillix::browse
