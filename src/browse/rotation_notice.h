#pragma once

#include "browse/summary_notice.h"
#include "imaging/rotation.h"

#include <optional>
#include <string>

namespace quillix::browse {

// The warning box a rotation's outcome is told in, the same in the viewer and in a batch run:
// a refused container or animated WebP and a failed turn; nothing when the file turned or was
// no picture to turn.
std::optional<BatchNotice> RotationNotice(const imaging::RotationOutcome& outcome);

// The status line a refusal that needs no box is told in: a picture that only turns with loss.
std::optional<std::string> RotationStatus(const imaging::RotationOutcome& outcome);

// The status line after a run that left `count` (more than one) such pictures as they were.
std::string RotationStatusForMany(int count);

}  // namespace quillix::browse
