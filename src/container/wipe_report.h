#pragma once

#include "container/secure_delete.h"

#include <string>

// What the user is told about a secure delete that did not go as planned, in the two places it
// is told: a message box after an in-place encryption or decryption, and one line of a batch
// summary. Both say the same things in the same words.
namespace quillix::container {

// The message box about the file at `path`, which held `held` ("the plain picture"): that other
// hard links still hold it, or "Secure overwrite failed." with what was and was not overwritten
// and where what is left is kept. Empty when it was wiped as planned.
std::string WipeWarning(const std::string& path, const WipeOutcome& wipe, const std::string& held);

// The summary line for the file `name`: that other hard links still hold the picture, or that
// the secure overwrite failed, why, and where what is left is kept. Empty when it was wiped as
// planned.
std::string WipeNote(const std::string& name, const WipeOutcome& wipe);

}  // namespace quillix::container
