#pragma once
// User defaults of one bundle identifier, kept as a property-list file
// home/Library/Preferences/<bundle identifier>.plist. Values are read once and cached; every
// change is written through atomically. A missing or corrupt file reads as empty.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "kit/base/Value.h"

namespace kit {

class UserDefaults {
public:
    explicit UserDefaults(std::string bundleIdentifier);

    // The defaults of the main bundle identifier (ProcessInfo).
    static UserDefaults& standard();
    // Forgets the standard instance so the next standard() reads again (tests change HOME).
    static void resetStandard();

    const std::string& bundleIdentifier() const { return bundleIdentifier_; }
    std::filesystem::path filePath() const;

    // The stored value, or null when absent.
    const Value& object(std::string_view key) const;
    // Lenient readings of the stored value (0, NO, empty when absent). stringForKey also gives
    // the decimal text of a stored number.
    std::int64_t integerForKey(std::string_view key) const;
    bool boolForKey(std::string_view key) const;
    std::string stringForKey(std::string_view key) const;

    // Stores a value and writes the file. A null value removes the key; a value that a property
    // list cannot hold (a null inside an array or dictionary) is refused with a log line.
    void set(std::string_view key, Value value);
    void remove(std::string_view key);
    // Reads the file again.
    void reload();

private:
    void write();

    std::string bundleIdentifier_;
    // Fixed at construction, so a later change of HOME never splits one set of defaults.
    std::filesystem::path path_;
    Dictionary values_;
};

}  // namespace kit
