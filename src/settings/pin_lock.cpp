#include "settings/pin_lock.h"
#include "settings/setting_keys.h"

#include <climits>
#include <cstdint>

namespace quillix::settings {

bool PinRequired(const AppOptions& options)
{
    return options.PinHash != options.NoPinHash;
}

int LockoutMs(int failures)
{
    if (failures <= 0) return 0;
    const std::int64_t ms = std::int64_t{failures} * 7000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

void CountPinFailure(AppOptions& options, SettingsStore& regeditSettings)
{
    if (options.PinErrors < INT_MAX) ++options.PinErrors;
    Write(regeditSettings, kPinErrorsSetting, options.PinErrors);
    regeditSettings.SaveToRegistry();
}

void ResetPinFailures(AppOptions& options, SettingsStore& regeditSettings)
{
    options.PinErrors = 0;
    Write(regeditSettings, kPinErrorsSetting, 0);
    regeditSettings.SaveToRegistry();
}

PinEntry::Outcome PinEntry::Type(char c)
{
    if (over_ || c < '0' || c > '9') return Outcome::Ignored;
    digits_ += c;
    if (digits_.size() >= 5) {
        over_ = true;
        return Outcome::Failed;
    }
    if (Unlocks()) {
        over_ = true;
        return Outcome::Unlocked;
    }
    if (digits_.size() == 4) {
        over_ = true;
        return Outcome::Failed;
    }
    return Outcome::Pending;
}

bool PinEntry::Unlocks() const
{
    // An empty hash (MD5 unavailable) matches nothing.
    return !digits_.empty() && !pinHash_.empty() && HashPin(digits_) == pinHash_;
}

std::string PinEntry::Stars() const
{
    std::string stars;
    for (std::size_t i = 0; i < digits_.size(); ++i)
        stars += i == 0 ? "*" : " *";
    return stars;
}

}  // namespace quillix::settings
