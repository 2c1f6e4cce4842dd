#pragma once

#include "browse/summary_notice.h"
#include "imaging/rotation.h"

#include <optional>

namespace quillix::browse {

// The warning box a rotation's outcome is told in, the same in the viewer and in a batch run:
// a refused container or animated WebP and a failed turn; nothing when the file turned or was
// no picture to turn.
std::optional<BatchNotice> RotationNotice(const imaging::RotationOutcome& outcome);

}  // namespace quillix::browse
