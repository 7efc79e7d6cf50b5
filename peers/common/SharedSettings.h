#pragma once
// The settings file that the host shares with the application (a property list under the home
// folder). The stand-ins change only what the host or the tool would change.

#include <filesystem>
#include <string_view>

#include "kit/base/Result.h"
#include "kit/base/Value.h"

namespace peers {

inline constexpr const char* kFileDragStateKey = "kQuarn_AI_FILE_DRAG_STATE";

// home/Library/Application Support/QuarnAI/config/QuarnAIConfig.plist
std::filesystem::path sharedSettingsPath();

// Sets one key, keeping every other key, and writes the file atomically. A missing file (and its
// folder) is created; a file that is not a property-list dictionary is left alone and reported,
// so that nothing the application wrote is lost.
kit::Status writeSharedSetting(const std::filesystem::path& path, std::string_view key, kit::Value value);

}  // namespace peers
