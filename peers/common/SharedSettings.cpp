#include "peers/common/SharedSettings.h"

#include <system_error>

#include "kit/base/Paths.h"
#include "kit/base/PropertyList.h"

namespace peers {

std::filesystem::path sharedSettingsPath() {
    return kit::paths::applicationSupport() / "QuarnAI" / "config" / "QuarnAIConfig.plist";
}

kit::Status writeSharedSetting(const std::filesystem::path& path, std::string_view key, kit::Value value) {
    std::error_code ec;
    kit::Dictionary settings;
    if (std::filesystem::exists(path, ec)) {
        auto read = kit::readPropertyListFile(path);
        if (!read) return kit::Error{"cannot read " + path.string() + ": " + read.error()};
        if (!read->isDictionary()) return kit::Error{path.string() + " does not hold a dictionary; left unchanged"};
        settings = *read->asDictionary();
    } else {
        std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) return kit::Error{"cannot create " + path.parent_path().string() + ": " + ec.message()};
    }
    settings.set(std::string(key), std::move(value));
    return kit::writePropertyListFile(path, kit::Value(std::move(settings)));
}

}  // namespace peers
