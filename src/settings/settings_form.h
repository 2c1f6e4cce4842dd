#pragma once

#include "crypto/ciphers.h"
#include "settings/app_options.h"
#include "settings/settings_store.h"

#include <optional>
#include <string>

// What the settings dialog shows and stores, without the widgets: the dialog copies its controls
// into a SettingsFormState and back, and these functions hold the rules.
namespace quillix::settings {

// The mouse wheel choices in the order the dialog lists them, with the MOUSECTRL_OPT each stores.
inline constexpr int kMouseStepZoomWithShift = 1;
inline constexpr int kMouseZoomStepWithShift = 2;
inline constexpr int kMouseToggleWithRightButton = 0;

// The algorithm choices run from AES (0) to the strong format (4), each stored as its CipherId.
inline constexpr int kAesAlgorithm = crypto::CipherAes;
inline constexpr int kStrongAlgorithm = crypto::CipherStrong;

// The dialog's controls as texts, flags and choices.
struct SettingsFormState {
    std::string maxBytes;      // "Max Bytes :", the mxb number
    bool fullFile = false;     // "Full File"
    std::string passes;        // "Passes: "
    bool mouseRevert = false;  // "Revert Zoom In && Out"
    // The MOUSECTRL_OPT of the selected wheel button; any other number: none selected.
    int mouseOption = kMouseToggleWithRightButton;
    // The CipherId of the selected algorithm button; any other number selects none.
    int encryptionAlg = 0;
    bool fileNamePW = true;  // "Password+FileName"
    bool fast = true;        // "FAST (less secure)"
    std::string pin;         // "PIN:"
};

// Fills every control but the PIN field from the settings as stored; "Password+FileName", "FAST"
// and the algorithm are also read back into `options`.
void ShowSettings(SettingsFormState& form, AppOptions& options, const SettingsStore& appSettings);

// Stores the controls into `options` and the settings file (saved at once, its folder made when
// missing), and a new PIN into the registry. A "Max Bytes :" that is no number stores 100, and is
// stored as typed otherwise; "Passes: " stores 7 for no number and keeps any other within 1 to 35.
void ApplySettings(const SettingsFormState& form, AppOptions& options, SettingsStore& appSettings,
                   SettingsStore& regeditSettings);

// The hash a typed PIN is stored as: 1 to 4 digits (blanks around them ignored) hash as typed,
// leading zeros included, so the prompt later accepts exactly the digits typed here. Anything
// else sets no PIN.
std::optional<std::string> PinHashToStore(const std::string& typed);

// "CLR": from the next start on no PIN is asked.
void ClearPin(const AppOptions& options, SettingsStore& regeditSettings);

// The "Full File" box and the "Max Bytes :" field kept in step: a ticked box shows 0 in a
// disabled field; unticking it brings back 444; typing 0 into the field ticks the box.
struct FullFileControls {
    bool fullFile = false;
    std::string maxBytes;
    bool fieldHasFocus = false;
    bool fieldEnabled = true;
};
void KeepFullFileInStep(FullFileControls& controls);

}  // namespace quillix::settings
