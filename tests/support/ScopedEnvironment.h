#pragma once
// Scoped environment variables and temporary folders, so no test touches the real HOME and
// none leaves a folder or a changed variable behind, whichever way it ends.

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace kit::testing {

class ScopedEnv {
public:
    // Sets `name` to `value`, or unsets it for std::nullopt; restores it on destruction.
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = ::getenv(name_.c_str())) old_ = old;
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A fresh, empty folder under the temporary folder, named <prefix>-XXXXXX, removed with its
// contents when the object goes. The path is empty when it could not be made.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "kit-base") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A fresh, empty home folder for the life of the object.
class TempHome {
public:
    TempHome() : home_("HOME", folder_.path().string()) {}
    const std::filesystem::path& path() const { return folder_.path(); }

private:
    TempFolder folder_;
    ScopedEnv home_;
};

}  // namespace kit::testing
