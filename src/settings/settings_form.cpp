#include "settings/settings_form.h"
#include "settings/setting_keys.h"

#include "common/text.h"

#include <filesystem>

namespace quillix::settings {
namespace {

constexpr int kUnreadableMaxMiB = 100;

}  // namespace

void ShowSettings(SettingsFormState& form, AppOptions& options, const SettingsStore& appSettings)
{
    form.maxBytes = std::to_string(Read(appSettings, kMaxMiBSetting));
    form.fullFile = form.maxBytes == "0";
    form.passes = std::to_string(options.Passes);
    form.mouseRevert = options.MouseRevert;
    form.mouseOption = options.MouseOption == kMouseStepZoomWithShift || options.MouseOption == kMouseZoomStepWithShift
                           ? options.MouseOption
                           : kMouseToggleWithRightButton;
    options.FileNamePW = Read(appSettings, kFileNamePWSetting);
    options.Fast = Read(appSettings, kFastSetting);
    options.EncryptionAlg = Read(appSettings, kEncryptionAlgSetting);
    form.fileNamePW = options.FileNamePW;
    form.fast = options.Fast;
    form.encryptionAlg = options.EncryptionAlg;
}

void ApplySettings(const SettingsFormState& form, AppOptions& options, SettingsStore& appSettings,
                   SettingsStore& regeditSettings)
{
    const int maxMiB = StrToInt(form.maxBytes, kUnreadableMaxMiB);
    options.MaxKiB = std::int64_t{maxMiB} * 1024;
    Write(appSettings, kMaxMiBSetting, maxMiB);
    const int passes = PassesInRange(StrToInt(form.passes, kDefaultPasses));
    options.Passes = passes;
    options.MouseRevert = form.mouseRevert;
    Write(appSettings, kMouseRevertSetting, options.MouseRevert);
    if (form.mouseOption == kMouseStepZoomWithShift || form.mouseOption == kMouseZoomStepWithShift ||
        form.mouseOption == kMouseToggleWithRightButton)
        options.MouseOption = form.mouseOption;
    Write(appSettings, kMouseOptionSetting, options.MouseOption);
    if (const std::optional<std::string> hash = PinHashToStore(form.pin)) {
        // The running program keeps its PinHash: the new PIN is asked from the next start on.
        Write(regeditSettings, kPinHashSetting, *hash);
        regeditSettings.SaveToRegistry();
    }
    options.EncryptionAlg = form.encryptionAlg >= kAesAlgorithm && form.encryptionAlg <= kStrongAlgorithm
                                ? form.encryptionAlg
                                : kAesAlgorithm;
    Write(appSettings, kEncryptionAlgSetting, options.EncryptionAlg);
    options.FileNamePW = form.fileNamePW;
    Write(appSettings, kFileNamePWSetting, options.FileNamePW);
    options.Fast = form.fast;
    Write(appSettings, kFastSetting, options.Fast);
    Write(appSettings, kPassesSetting, passes);
    std::error_code ec;
    if (!appSettings.IniFileDir.empty()) std::filesystem::create_directories(appSettings.IniFileDir, ec);
    appSettings.SaveToFile();
}

std::optional<std::string> PinHashToStore(const std::string& typed)
{
    const std::string digits = TrimBlanksAndControls(typed);
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    for (const char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    return HashPin(digits);
}

void ClearPin(const AppOptions& options, SettingsStore& regeditSettings)
{
    Write(regeditSettings, kPinHashSetting, options.NoPinHash);
    regeditSettings.SaveToRegistry();
}

void KeepFullFileInStep(FullFileControls& controls)
{
    if (controls.fullFile) {
        controls.maxBytes = "0";
    } else {
        if (!controls.fieldHasFocus && controls.maxBytes == "0")
            controls.maxBytes = std::to_string(kMaxMiBSetting.fallback);
        if (controls.fieldHasFocus && controls.maxBytes == "0") controls.fullFile = true;
    }
    controls.fieldEnabled = !controls.fullFile;
}

}  // namespace quillix::settings
