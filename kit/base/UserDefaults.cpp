#include "kit/base/UserDefaults.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>

#include "kit/base/Log.h"
#include "kit/base/Paths.h"
#include "kit/base/ProcessInfo.h"
#include "kit/base/PrivateFiles.h"
#include "kit/base/PropertyList.h"

namespace kit {
namespace fs = std::filesystem;

namespace {

constexpr const char* kFallbackBundleIdentifier = "com.morvane.QuarnAIAssistant";

std::mutex& standardMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unique_ptr<UserDefaults>& standardSlot() {
    static std::unique_ptr<UserDefaults> defaults;
    return defaults;
}

bool holdsNull(const Value& value) {
    if (value.isNull()) return true;
    if (const auto* array = value.asArray()) {
        for (const auto& item : *array)
            if (holdsNull(item)) return true;
    } else if (const auto* dictionary = value.asDictionary()) {
        for (const auto& [key, item] : *dictionary)
            if (holdsNull(item)) return true;
    }
    return false;
}

std::string shortestReal(double value) {
    char buffer[64];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::strtod(buffer, nullptr) == value) break;
    }
    return buffer;
}

}  // namespace

UserDefaults::UserDefaults(std::string bundleIdentifier)
    : bundleIdentifier_(std::move(bundleIdentifier)),
      path_(paths::home() / "Library" / "Preferences" / (bundleIdentifier_ + ".plist")) {
    reload();
}

UserDefaults& UserDefaults::standard() {
    std::lock_guard lock(standardMutex());
    auto& slot = standardSlot();
    if (!slot) {
        std::string identifier = process::bundleIdentifier();
        if (identifier.empty()) identifier = kFallbackBundleIdentifier;
        slot = std::make_unique<UserDefaults>(std::move(identifier));
    }
    return *slot;
}

void UserDefaults::resetStandard() {
    std::lock_guard lock(standardMutex());
    standardSlot().reset();
}

fs::path UserDefaults::filePath() const { return path_; }

void UserDefaults::reload() {
    values_.clear();
    std::error_code ec;
    if (!fs::exists(path_, ec)) return;  // first launch: nothing stored yet
    auto loaded = readPropertyListFile(path_);
    if (!loaded) {
        logf("[Defaults] cannot read %s, starting empty: %s", path_.c_str(), loaded.error().c_str());
        return;
    }
    if (auto* dictionary = loaded->asDictionary()) {
        values_ = std::move(*dictionary);
        return;
    }
    logf("[Defaults] %s does not hold a dictionary, starting empty", path_.c_str());
}

const Value& UserDefaults::object(std::string_view key) const {
    const Value* value = values_.find(key);
    return value ? *value : Value::null();
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const { return object(key).integerValue(); }

bool UserDefaults::boolForKey(std::string_view key) const { return object(key).boolValue(); }

std::string UserDefaults::stringForKey(std::string_view key) const {
    const Value& value = object(key);
    if (const auto* text = value.asString()) return *text;
    if (const auto* integer = value.asInteger()) return std::to_string(*integer);
    if (const auto* real = value.asReal()) return shortestReal(*real);
    if (const auto* flag = value.asBool()) return *flag ? "1" : "0";
    return {};
}

void UserDefaults::set(std::string_view key, Value value) {
    if (value.isNull()) {
        remove(key);
        return;
    }
    // Stored, such a value would make every later write of the whole dictionary fail.
    if (holdsNull(value)) {
        logf("[Defaults] refusing a value with a null inside for key %.*s", static_cast<int>(key.size()),
             key.data());
        return;
    }
    values_.set(std::string(key), std::move(value));
    write();
}

void UserDefaults::remove(std::string_view key) {
    if (!values_.erase(key)) return;
    write();
}

void UserDefaults::write() {
    if (auto made = createPrivateFolders(path_.parent_path()); !made) {
        logf("[Defaults] %s", made.error().c_str());
        return;
    }
    auto status = writePropertyListFile(path_, Value(values_));
    if (!status) logf("[Defaults] cannot write %s: %s", path_.c_str(), status.error().c_str());
}

}  // namespace kit
