#pragma once
// The D-Bus form of a distributed notification: a broadcast signal
//   path "/com/morvane/DistributedNotification", interface "com.morvane.DistributedNotification",
//   member "Posted", arguments (s name, s object, a{sv} userInfo).
// Values travel as GVariants: bool b, integer x, real d, string s, data ay, date ('date', d) with
// seconds since 2001-01-01 UTC, array av, dictionary a{sv}, null ('null',). An empty or absent
// userInfo arrives as null.
//
// Decoding is lenient about what a shell can type ("gdbus emit"): any integer type reads as an
// integer, object paths and signatures as strings, typed arrays (as, ai, ...) as arrays,
// dictionaries with string keys and any values as dictionaries; the signatures (s), (ss) and
// (ssa{s*}) are accepted too. What cannot be mapped is left out and reported in `problems`.
//
// Internal to kit/sys (GLib types); nothing above kit includes it.

#include <glib.h>

#include <optional>
#include <string>
#include <vector>

#include "kit/base/Value.h"
#include "kit/sys/DistributedNotificationCenter.h"

namespace kit::wire {

inline constexpr const char* kNotificationPath = "/com/morvane/DistributedNotification";
inline constexpr const char* kNotificationInterface = "com.morvane.DistributedNotification";
inline constexpr const char* kNotificationMember = "Posted";

// A new floating GVariant for a value. Invalid UTF-8 and NUL characters in strings (which D-Bus
// cannot carry) are replaced, and the replacement is reported in `problems`.
GVariant* variantFromValue(const Value& value, std::vector<std::string>* problems = nullptr);

// The value of a GVariant; nullopt (with a problem reported) when it cannot be mapped.
std::optional<Value> valueFromVariant(GVariant* variant, std::vector<std::string>* problems = nullptr);

// The (s, s, a{sv}) tuple of a notification, floating. A userInfo that is neither null nor a
// dictionary is left out and reported.
GVariant* encodeNotification(const DistributedNotification& notification,
                             std::vector<std::string>* problems = nullptr);

// The notification carried by a signal's parameters; nullopt when their form is not one of
// (s), (ss), (ssa{s*}) or the name is empty.
std::optional<DistributedNotification> decodeNotification(GVariant* parameters,
                                                          std::vector<std::string>* problems = nullptr);

// What an observer in another process receives for this userInfo: the wire's round trip.
Value normalizedUserInfo(const Value& userInfo, std::vector<std::string>* problems = nullptr);

// A string D-Bus can carry: valid UTF-8 without NUL characters.
std::string sanitizedString(const std::string& text, bool* changed = nullptr);

}  // namespace kit::wire
