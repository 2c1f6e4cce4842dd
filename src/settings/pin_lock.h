#pragma once

#include "settings/app_options.h"
#include "settings/settings_store.h"

#include <string>

// The parental PIN asked at start: whether it is asked, the wait after failures, the failure
// count, and the digits typed into the prompt.
namespace quillix::settings {

// A PIN is asked when the stored hash is not the hash of the no-PIN value (a missing value
// counts as the no-PIN hash).
bool PinRequired(const AppOptions& options);

// Milliseconds the prompt refuses digits after `failures` failed starts: 7 s for each, none
// for zero or fewer, and at most what a timer can hold.
int LockoutMs(int failures);

// One more failed entry, saved to the registry at once.
void CountPinFailure(AppOptions& options, SettingsStore& regeditSettings);
// A correct entry: the count back to 0, saved to the registry at once.
void ResetPinFailures(AppOptions& options, SettingsStore& regeditSettings);

// The digits typed into the prompt, checked after each one. A PIN of one to three digits
// unlocks as soon as its digits are typed; four digits that do not match end the attempt.
class PinEntry {
public:
    enum class Outcome {
        Ignored,   // not a digit, or the attempt is over
        Pending,   // a digit more is awaited
        Unlocked,  // the digits match the PIN
        Failed,    // four digits (or more) that do not match
    };

    explicit PinEntry(std::string pinHash) : pinHash_(std::move(pinHash)) {}

    Outcome Type(char c);
    // Closing the prompt is allowed only with the right digits; otherwise the program ends.
    bool Unlocks() const;
    // One "*" per digit, separated by single blanks.
    std::string Stars() const;
    bool Empty() const { return digits_.empty(); }
    void Clear()
    {
        digits_.clear();
        over_ = false;
    }

private:
    std::string pinHash_;
    std::string digits_;
    bool over_ = false;
};

}  // namespace quillix::settings
