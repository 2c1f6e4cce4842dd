#pragma once

#include "settings/app_options.h"
#include "settings/settings_store.h"

#include <string>

// Every setting the program reads or writes: its name in its store and the value it has when the
// store holds none. Code reads and writes settings through these, never by a name of its own.
namespace quillix::settings {

struct BoolSetting {
    const char* name;
    bool fallback;
};
struct IntSetting {
    const char* name;
    int fallback;
};
struct TextSetting {
    const char* name;
};

// "Quillix.ini".
inline constexpr BoolSetting kFileNamePWSetting{"FileNamePW", true};
inline constexpr BoolSetting kFastSetting{"Fast", true};
inline constexpr IntSetting kEncryptionAlgSetting{"EncryptionAlg", 0};
// MiB encrypted at the start of a file; 0 for all of it.
inline constexpr IntSetting kMaxMiBSetting{"mxb", container::kDefaultMaxMiB};
inline constexpr IntSetting kPassesSetting{"passes", kDefaultPasses};
inline constexpr BoolSetting kMouseRevertSetting{"MOUSECTRL_REVERT", false};
inline constexpr IntSetting kMouseOptionSetting{"MOUSECTRL_OPT", 0};
inline constexpr IntSetting kSortModeSetting{"SORT_MODE", 0};
inline constexpr BoolSetting kScaleToFitSetting{"ScaleToFit", true};
inline constexpr BoolSetting kFitWidthSetting{"FitWidth", false};
// The gallery's tile size; its reader passes the size the window has as the fallback.
inline constexpr IntSetting kTileSizeSetting{"TILE_SIZE", 0};
// The folder of the last picture shown or folder chosen, without a trailing "/".
inline constexpr TextSetting kLastDirSetting{"LastDir"};

// The registry file.
inline constexpr TextSetting kPinHashSetting{"p"};
inline constexpr IntSetting kPinErrorsSetting{"c", 0};

inline bool Read(const SettingsStore& store, BoolSetting setting)
{
    return store.GetBool(setting.name, setting.fallback);
}
inline int Read(const SettingsStore& store, IntSetting setting)
{
    return store.GetInt(setting.name, setting.fallback);
}
inline std::string Read(const SettingsStore& store, TextSetting setting, const std::string& fallback = {})
{
    return store.GetString(setting.name, fallback);
}
inline void Write(SettingsStore& store, BoolSetting setting, bool value)
{
    store.PushBool(setting.name, value);
}
inline void Write(SettingsStore& store, IntSetting setting, int value)
{
    store.PushInt(setting.name, value);
}
inline void Write(SettingsStore& store, TextSetting setting, const std::string& value)
{
    store.PushString(setting.name, value);
}

}  // namespace quillix::settings
