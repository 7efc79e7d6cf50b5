#include "kit/base/Value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace kit {

// ---- Dictionary ----

Dictionary::Dictionary() = default;
Dictionary::Dictionary(std::initializer_list<Entry> entries) {
    entries_.reserve(entries.size());
    for (const Entry& entry : entries) set(entry.first, entry.second);
}
Dictionary::Dictionary(const Dictionary&) = default;
Dictionary::Dictionary(Dictionary&&) noexcept = default;
Dictionary& Dictionary::operator=(const Dictionary&) = default;
Dictionary& Dictionary::operator=(Dictionary&&) noexcept = default;
Dictionary::~Dictionary() = default;

const Value* Dictionary::find(std::string_view key) const {
    for (const Entry& entry : entries_) {
        if (entry.first == key) return &entry.second;
    }
    return nullptr;
}

Value* Dictionary::find(std::string_view key) {
    for (Entry& entry : entries_) {
        if (entry.first == key) return &entry.second;
    }
    return nullptr;
}

void Dictionary::set(std::string key, Value value) {
    if (Value* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    entries_.emplace_back(std::move(key), std::move(value));
}

Value& Dictionary::operator[](std::string_view key) {
    if (Value* existing = find(key)) return *existing;
    entries_.emplace_back(std::string(key), Value());
    return entries_.back().second;
}

bool Dictionary::erase(std::string_view key) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& entry) { return entry.first == key; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

void Dictionary::appendUnchecked(std::string key, Value value) {
    entries_.emplace_back(std::move(key), std::move(value));
}

void Dictionary::collapseDuplicateKeys() {
    const std::size_t n = entries_.size();
    if (n < 2) return;
    std::vector<bool> dropped(n, false);
    bool anyDropped = false;
    if (n <= 16) {
        for (std::size_t i = 1; i < n; ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                if (!dropped[j] && entries_[j].first == entries_[i].first) {
                    entries_[j].second = std::move(entries_[i].second);
                    dropped[i] = anyDropped = true;
                    break;
                }
            }
        }
    } else {
        // Large objects from outside input: sorting keeps this O(n log n) where a pairwise scan
        // would let a crafted file stall the main thread.
        std::vector<std::size_t> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return entries_[a].first < entries_[b].first;
        });
        for (std::size_t i = 0; i < n;) {
            std::size_t j = i + 1;
            while (j < n && entries_[order[j]].first == entries_[order[i]].first) ++j;
            if (j - i > 1) {
                entries_[order[i]].second = std::move(entries_[order[j - 1]].second);
                for (std::size_t k = i + 1; k < j; ++k) dropped[order[k]] = anyDropped = true;
            }
            i = j;
        }
    }
    if (!anyDropped) return;
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (dropped[i]) continue;
        if (out != i) entries_[out] = std::move(entries_[i]);
        ++out;
    }
    entries_.resize(out);
}

bool operator==(const Dictionary& a, const Dictionary& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.entries_.size(); ++i) {
        const Dictionary::Entry& entry = a.entries_[i];
        // Most comparisons are of dictionaries built in the same order.
        const Value* other = b.entries_[i].first == entry.first ? &b.entries_[i].second
                                                                : b.find(entry.first);
        if (!other || !(*other == entry.second)) return false;
    }
    return true;
}

// ---- Value ----

const char* valueTypeName(ValueType type) {
    switch (type) {
        case ValueType::Null: return "null";
        case ValueType::Bool: return "bool";
        case ValueType::Integer: return "integer";
        case ValueType::Real: return "real";
        case ValueType::String: return "string";
        case ValueType::Data: return "data";
        case ValueType::Date: return "date";
        case ValueType::Array: return "array";
        case ValueType::Dictionary: return "dictionary";
    }
    return "unknown";
}

namespace {

constexpr double kTwoPow63 = 9223372036854775808.0;

std::int64_t clampToInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= kTwoPow63) return std::numeric_limits<std::int64_t>::max();
    if (d <= -kTwoPow63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

bool integerEqualsReal(std::int64_t i, double d) {
    if (!(d >= -kTwoPow63 && d < kTwoPow63)) return false;  // also rejects NaN
    if (d != std::trunc(d)) return false;
    return static_cast<std::int64_t>(d) == i;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view skipSpace(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    return text.substr(i);
}

}  // namespace

std::int64_t Value::integerValue() const {
    switch (type()) {
        case ValueType::Bool: return *asBool() ? 1 : 0;
        case ValueType::Integer: return *asInteger();
        case ValueType::Real: return clampToInt64(*asReal());
        case ValueType::String: return integerValueOfString(*asString());
        default: return 0;
    }
}

double Value::doubleValue() const {
    switch (type()) {
        case ValueType::Bool: return *asBool() ? 1.0 : 0.0;
        case ValueType::Integer: return static_cast<double>(*asInteger());
        case ValueType::Real: return *asReal();
        case ValueType::String: return doubleValueOfString(*asString());
        default: return 0.0;
    }
}

bool Value::boolValue() const {
    switch (type()) {
        case ValueType::Bool: return *asBool();
        case ValueType::Integer: return *asInteger() != 0;
        case ValueType::Real: return *asReal() != 0.0;
        case ValueType::String: return boolValueOfString(*asString());
        default: return false;
    }
}

const Value& Value::operator[](std::string_view key) const {
    if (const Dictionary* dict = asDictionary()) {
        if (const Value* found = dict->find(key)) return *found;
    }
    return null();
}

const Value& Value::at(std::size_t index) const {
    if (const Array* array = asArray()) {
        if (index < array->size()) return (*array)[index];
    }
    return null();
}

const Value& Value::null() {
    static const Value instance;
    return instance;
}

bool operator==(const Value& a, const Value& b) {
    if (a.isInteger() && b.isReal()) return integerEqualsReal(*a.asInteger(), *b.asReal());
    if (a.isReal() && b.isInteger()) return integerEqualsReal(*b.asInteger(), *a.asReal());
    return a.v_ == b.v_;
}

// ---- Lenient readings of text ----

std::int64_t integerValueOfString(std::string_view text) {
    text = skipSpace(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate toward the sign so that INT64_MIN is reachable, saturating on overflow.
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t result = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        const int digit = text[i] - '0';
        if (negative) {
            if (result < (kMin + digit) / 10) return kMin;
            result = result * 10 - digit;
        } else {
            if (result > (kMax - digit) / 10) return kMax;
            result = result * 10 + digit;
        }
    }
    return result;
}

double doubleValueOfString(std::string_view text) {
    double value = 0;
    return scanDecimalNumber(skipSpace(text), value) ? value : 0.0;
}

bool boolValueOfString(std::string_view text) {
    text = skipSpace(text);
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i >= text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

// ---- Number text ----

std::size_t scanDecimalNumber(std::string_view text, double& out) {
    std::size_t i = 0;
    const bool hasSign = i < text.size() && (text[i] == '+' || text[i] == '-');
    const bool negative = hasSign && text[i] == '-';
    if (hasSign) ++i;
    const std::size_t mantissaStart = i;
    std::size_t intDigits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++intDigits;
    std::size_t fracDigits = 0;
    if (i < text.size() && text[i] == '.') {
        std::size_t j = i + 1;
        while (j < text.size() && isDigit(text[j])) ++j, ++fracDigits;
        if (intDigits + fracDigits > 0) i = j;
    }
    if (intDigits + fracDigits == 0) return 0;
    const std::size_t mantissaEnd = i;
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) negativeExponent = text[j++] == '-';
        if (j < text.size() && isDigit(text[j])) {
            for (; j < text.size() && isDigit(text[j]); ++j) {
                if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[j] - '0');
            }
            if (negativeExponent) exponent = -exponent;
            i = j;
        }
    }
    // from_chars takes no leading '+'; the sign is applied afterwards.
    const char* first = text.data() + mantissaStart;
    const char* last = text.data() + i;
    double magnitude = 0;
    const auto [ptr, ec] = std::from_chars(first, last, magnitude);
    if (ec == std::errc::result_out_of_range) {
        // Decimal position of the first significant digit decides overflow or underflow.
        long long position = 0;
        bool found = false;
        long long digitIndex = 0;
        for (std::size_t k = mantissaStart; k < mantissaEnd; ++k) {
            if (text[k] == '.') continue;
            if (text[k] != '0') {
                position = static_cast<long long>(intDigits) - digitIndex;
                found = true;
                break;
            }
            ++digitIndex;
        }
        magnitude = found && position + exponent > 0 ? HUGE_VAL : 0.0;
    } else if (ec != std::errc() || ptr != last) {
        magnitude = 0;
    }
    out = negative ? -magnitude : magnitude;
    return i;
}

std::string shortestNumberText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    if (value == 0) return "0";
    char buffer[64];
    std::to_chars_result result;
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(value));
    } else {
        result = std::to_chars(buffer, buffer + sizeof buffer, value);
    }
    return std::string(buffer, result.ptr);
}

// ---- UTF-8 ----

namespace {

// Length of the well-formed sequence at the start of s, or 0 when it is ill-formed.
std::size_t utf8SequenceLength(const unsigned char* s, std::size_t n) {
    const unsigned char c = s[0];
    if (c < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;         // overlong
        if (c == 0xED) high = 0x9F;        // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;         // overlong
        if (c == 0xF4) high = 0x8F;        // above U+10FFFF
    } else {
        return 0;
    }
    if (n < length || s[1] < low || s[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(s + i, n - i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string sanitizedUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n;) {
        const std::size_t length = utf8SequenceLength(s + i, n - i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.data() + i, length);
            i += length;
        }
    }
    return out;
}

// ---- describe ----

namespace {

bool isBareWord(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_';
        if (!plain) return false;
    }
    return true;
}

void appendString(std::string& out, std::string_view s) {
    if (isBareWord(s)) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\U%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void appendHex(std::string& out, const std::uint8_t* bytes, std::size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xf];
    }
}

void appendDate(std::string& out, const Date& date) {
    const double unix = std::floor(date.unixTime());
    std::tm tm{};
    // Beyond a few hundred million years gmtime cannot answer; print the raw number instead.
    if (!std::isfinite(unix) || std::fabs(unix) > 1e15) {
        out += shortestNumberText(date.unixTime());
        return;
    }
    const std::time_t seconds = static_cast<std::time_t>(unix);
    if (!gmtime_r(&seconds, &tm)) {
        out += shortestNumberText(date.unixTime());
        return;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d %02d:%02d:%02d +0000",
                  static_cast<long long>(tm.tm_year) + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
    out += buffer;
}

void indent(std::string& out, int level) { out.append(static_cast<std::size_t>(level) * 4, ' '); }

// Collections at a nesting level start with that level's indentation, which gives the
// platform's "key =     {" and "        {" shapes for nested collections.
void describeInto(std::string& out, const Value& value, int level) {
    switch (value.type()) {
        case ValueType::Null: out += "<null>"; break;
        case ValueType::Bool: out += *value.asBool() ? "1" : "0"; break;
        case ValueType::Integer: out += std::to_string(*value.asInteger()); break;
        case ValueType::Real: out += shortestNumberText(*value.asReal()); break;
        case ValueType::String: appendString(out, *value.asString()); break;
        case ValueType::Data: {
            const Data& data = *value.asData();
            out += "{length = " + std::to_string(data.size()) + ", bytes = 0x";
            if (data.size() <= 24) {
                appendHex(out, data.data(), data.size());
            } else {
                appendHex(out, data.data(), 16);
                out += " ... ";
                appendHex(out, data.data() + data.size() - 8, 8);
            }
            out += '}';
            break;
        }
        case ValueType::Date: appendDate(out, *value.asDate()); break;
        case ValueType::Array: {
            indent(out, level);
            out += "(\n";
            const Array& array = *value.asArray();
            for (std::size_t i = 0; i < array.size(); ++i) {
                indent(out, level + 1);
                describeInto(out, array[i], level + 1);
                out += i + 1 < array.size() ? ",\n" : "\n";
            }
            indent(out, level);
            out += ')';
            break;
        }
        case ValueType::Dictionary: {
            indent(out, level);
            out += "{\n";
            for (const auto& [key, item] : *value.asDictionary()) {
                indent(out, level + 1);
                appendString(out, key);
                out += " = ";
                describeInto(out, item, level + 1);
                out += ";\n";
            }
            indent(out, level);
            out += '}';
            break;
        }
    }
}

}  // namespace

std::string describe(const Value& value) {
    std::string out;
    describeInto(out, value, 0);
    return out;
}

}  // namespace kit
