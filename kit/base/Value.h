#pragma once
// A value shaped like a property list: null, bool, integer, real, string, data, date, array and
// dictionary (keys kept in insertion order). Values are plain C++ values: copying copies deeply.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kit {

class Value;

using Array = std::vector<Value>;
using Data = std::vector<std::uint8_t>;

// A point in time as seconds since 2001-01-01 00:00:00 UTC, the reference date of property lists.
struct Date {
    double secondsSinceReferenceDate = 0;

    static constexpr double kUnixEpochToReferenceDate = 978307200.0;
    static Date fromUnixTime(double seconds) { return {seconds - kUnixEpochToReferenceDate}; }
    double unixTime() const { return secondsSinceReferenceDate + kUnixEpochToReferenceDate; }
    friend bool operator==(const Date&, const Date&) = default;
};

// Dictionary whose keys keep the order in which they were first inserted.
class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;
    using iterator = std::vector<Entry>::iterator;
    using const_iterator = std::vector<Entry>::const_iterator;

    Dictionary();
    Dictionary(std::initializer_list<Entry> entries);
    Dictionary(const Dictionary&);
    Dictionary(Dictionary&&) noexcept;
    Dictionary& operator=(const Dictionary&);
    Dictionary& operator=(Dictionary&&) noexcept;
    ~Dictionary();

    std::size_t size() const;
    bool empty() const;
    bool contains(std::string_view key) const { return find(key) != nullptr; }

    // The value for a key, or nullptr when absent.
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);

    // Replaces the value in place when the key exists, else appends the key.
    void set(std::string key, Value value);
    // Returns the value for a key, appending a null value first when absent.
    Value& operator[](std::string_view key);
    bool erase(std::string_view key);
    void clear();
    void reserve(std::size_t n);
    // Appends without looking for an existing key; for builders that know the key is new.
    void appendUnchecked(std::string key, Value value);
    // For builders that appended with appendUnchecked from outside input: a key given again
    // replaces the earlier value and keeps the earlier position, as set() would have.
    void collapseDuplicateKeys();

    iterator begin();
    iterator end();
    const_iterator begin() const;
    const_iterator end() const;

    // Same keys with equal values, in any order.
    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    std::vector<Entry> entries_;
};

enum class ValueType { Null, Bool, Integer, Real, String, Data, Date, Array, Dictionary };

const char* valueTypeName(ValueType type);

class Value {
public:
    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(std::int64_t{i}) {}
    Value(long i) : v_(std::int64_t{i}) {}
    Value(long long i) : v_(std::int64_t{i}) {}
    Value(unsigned i) : v_(std::int64_t{i}) {}
    Value(unsigned long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(unsigned long long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(kit::Data d) : v_(std::move(d)) {}
    Value(kit::Date d) : v_(d) {}
    Value(kit::Array a) : v_(std::move(a)) {}
    Value(kit::Dictionary d) : v_(std::move(d)) {}

    ValueType type() const { return static_cast<ValueType>(v_.index()); }
    bool isNull() const { return type() == ValueType::Null; }
    bool isBool() const { return type() == ValueType::Bool; }
    bool isInteger() const { return type() == ValueType::Integer; }
    bool isReal() const { return type() == ValueType::Real; }
    bool isNumber() const { return isInteger() || isReal(); }
    bool isString() const { return type() == ValueType::String; }
    bool isData() const { return type() == ValueType::Data; }
    bool isDate() const { return type() == ValueType::Date; }
    bool isArray() const { return type() == ValueType::Array; }
    bool isDictionary() const { return type() == ValueType::Dictionary; }

    // Strict access: a pointer to the held value when it has that kind, else nullptr.
    const bool* asBool() const { return std::get_if<bool>(&v_); }
    const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&v_); }
    const double* asReal() const { return std::get_if<double>(&v_); }
    const std::string* asString() const { return std::get_if<std::string>(&v_); }
    const kit::Data* asData() const { return std::get_if<kit::Data>(&v_); }
    const kit::Date* asDate() const { return std::get_if<kit::Date>(&v_); }
    const kit::Array* asArray() const { return std::get_if<kit::Array>(&v_); }
    kit::Array* asArray() { return std::get_if<kit::Array>(&v_); }
    const kit::Dictionary* asDictionary() const { return std::get_if<kit::Dictionary>(&v_); }
    kit::Dictionary* asDictionary() { return std::get_if<kit::Dictionary>(&v_); }

    // Lenient reading, as the platform's number and string objects answer these questions of a
    // value that another process wrote:
    //   integerValue: integer as is; real truncated toward zero; bool 0/1; string read as a
    //     decimal integer after leading white space, stopping at the first non-digit ("12abc" is
    //     12, "abc" is 0), clamped to the 64-bit range; anything else 0.
    //   doubleValue: the same rules for reals ("2.5x" is 2.5).
    //   boolValue: bool as is; numbers non-zero; strings YES when, after leading white space and
    //     an optional sign and leading zeros, the first character is one of "YyTt1-9"; else NO.
    std::int64_t integerValue() const;
    double doubleValue() const;
    bool boolValue() const;

    // Dictionary and array lookups that never fail: a shared null value when the key or index is
    // absent or this value is not a dictionary or array.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](const char* key) const { return (*this)[std::string_view(key)]; }
    const Value& at(std::size_t index) const;
    static const Value& null();

    // Same kind and equal contents; integers and reals compare by number.
    friend bool operator==(const Value& a, const Value& b);

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, kit::Data, kit::Date,
                 kit::Array, kit::Dictionary>
        v_;
};

// Defined here, where Value is complete: instantiating the entry vector needs its size.
inline std::size_t Dictionary::size() const { return entries_.size(); }
inline bool Dictionary::empty() const { return entries_.empty(); }
inline void Dictionary::clear() { entries_.clear(); }
inline void Dictionary::reserve(std::size_t n) { entries_.reserve(n); }
inline Dictionary::iterator Dictionary::begin() { return entries_.begin(); }
inline Dictionary::iterator Dictionary::end() { return entries_.end(); }
inline Dictionary::const_iterator Dictionary::begin() const { return entries_.begin(); }
inline Dictionary::const_iterator Dictionary::end() const { return entries_.end(); }

// The lenient readings of Value applied to text.
std::int64_t integerValueOfString(std::string_view text);
double doubleValueOfString(std::string_view text);
bool boolValueOfString(std::string_view text);

// A short readable description, for log lines ("%@" of the platform): dictionaries as
// {key = value; ...}, arrays as (a, b), strings quoted only when they need it.
// Strings made only of ASCII letters, digits and "_" print bare; others are quoted, with quotes,
// backslashes and control characters escaped and other UTF-8 kept as is. Bools print 1 or 0,
// null <null>, dates "2001-01-01 00:00:00 +0000", data "{length = 3, bytes = 0x0001ab}".
std::string describe(const Value& value);

// Number text shared by the text forms: a decimal number at the start of text (optional sign,
// digits, optional fraction and exponent, no white space). Returns the characters it used, 0
// when text does not start with one; out-of-range numbers read as +-HUGE_VAL or 0.
std::size_t scanDecimalNumber(std::string_view text, double& out);
// The shortest text that reads back as the same double; whole numbers have no decimals
// ("400", "12.5", "1e+300"), -0 prints as "0", non-finite values as "nan", "inf", "-inf".
std::string shortestNumberText(double value);

// Well-formed UTF-8: no stray continuation bytes, overlong forms, surrogates or code points
// above U+10FFFF.
bool isValidUtf8(std::string_view text);
// The text with every ill-formed sequence replaced by U+FFFD.
std::string sanitizedUtf8(std::string_view text);

}  // namespace kit
