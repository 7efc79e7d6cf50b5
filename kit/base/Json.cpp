#include "kit/base/Json.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <vector>

#include <nlohmann/json.hpp>

namespace kit {

// ---- Writing ----

namespace {

class JsonWriter {
public:
    JsonWriter(std::string& out, JsonWriteOptions options) : out_(out), options_(options) {}

    void write(const Value& value, int level) {
        switch (value.type()) {
            case ValueType::Null: out_ += "null"; break;
            case ValueType::Bool: out_ += *value.asBool() ? "true" : "false"; break;
            case ValueType::Integer: {
                char buffer[24];
                const auto result = std::to_chars(buffer, buffer + sizeof buffer, *value.asInteger());
                out_.append(buffer, result.ptr);
                break;
            }
            case ValueType::Real: writeNumber(*value.asReal()); break;
            case ValueType::String: writeString(*value.asString()); break;
            case ValueType::Data: writeBase64(*value.asData()); break;
            case ValueType::Date: writeNumber(value.asDate()->unixTime()); break;
            case ValueType::Array: {
                const Array& array = *value.asArray();
                out_ += '[';
                for (std::size_t i = 0; i < array.size(); ++i) {
                    if (i) out_ += ',';
                    newline(level + 1, array.size());
                    write(array[i], level + 1);
                }
                newline(level, array.size());
                out_ += ']';
                break;
            }
            case ValueType::Dictionary: {
                const Dictionary& dict = *value.asDictionary();
                out_ += '{';
                bool first = true;
                for (const auto& [key, item] : dict) {
                    if (!first) out_ += ',';
                    first = false;
                    newline(level + 1, dict.size());
                    writeString(key);
                    out_ += options_.prettyPrinted ? " : " : ":";
                    write(item, level + 1);
                }
                newline(level, dict.size());
                out_ += '}';
                break;
            }
        }
    }

private:
    void newline(int level, std::size_t count) {
        if (!options_.prettyPrinted || count == 0) return;
        out_ += '\n';
        out_.append(static_cast<std::size_t>(level) * 2, ' ');
    }

    void writeNumber(double d) {
        if (!std::isfinite(d)) {
            out_ += "null";
            return;
        }
        out_ += shortestNumberText(d);
    }

    void writeString(const std::string& s) {
        if (isValidUtf8(s)) {
            writeValidString(s);
        } else {
            writeValidString(sanitizedUtf8(s));
        }
    }

    void writeValidString(std::string_view s) {
        static const char kHex[] = "0123456789abcdef";
        out_ += '"';
        std::size_t runStart = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const auto c = static_cast<unsigned char>(s[i]);
            const char* escape = nullptr;
            char unicode[7];
            switch (c) {
                case '"': escape = "\\\""; break;
                case '\\': escape = "\\\\"; break;
                case '\b': escape = "\\b"; break;
                case '\f': escape = "\\f"; break;
                case '\n': escape = "\\n"; break;
                case '\r': escape = "\\r"; break;
                case '\t': escape = "\\t"; break;
                case '/':
                    if (options_.escapeSlashes) escape = "\\/";
                    break;
                default:
                    if (c < 0x20) {
                        unicode[0] = '\\';
                        unicode[1] = 'u';
                        unicode[2] = '0';
                        unicode[3] = '0';
                        unicode[4] = kHex[c >> 4];
                        unicode[5] = kHex[c & 0xf];
                        unicode[6] = '\0';
                        escape = unicode;
                    }
            }
            if (!escape) continue;
            out_.append(s.data() + runStart, i - runStart);
            out_ += escape;
            runStart = i + 1;
        }
        out_.append(s.data() + runStart, s.size() - runStart);
        out_ += '"';
    }

    void writeBase64(const Data& data) {
        static const char kAlphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        out_ += '"';
        std::size_t i = 0;
        for (; i + 3 <= data.size(); i += 3) {
            const std::uint32_t n = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
            out_ += kAlphabet[(n >> 18) & 63];
            out_ += kAlphabet[(n >> 12) & 63];
            out_ += kAlphabet[(n >> 6) & 63];
            out_ += kAlphabet[n & 63];
        }
        const std::size_t rest = data.size() - i;
        if (rest > 0) {
            std::uint32_t n = data[i] << 16;
            if (rest == 2) n |= data[i + 1] << 8;
            out_ += kAlphabet[(n >> 18) & 63];
            out_ += kAlphabet[(n >> 12) & 63];
            out_ += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
            out_ += '=';
        }
        out_ += '"';
    }

    std::string& out_;
    JsonWriteOptions options_;
};

}  // namespace

std::string toJson(const Value& value, JsonWriteOptions options) {
    std::string out;
    JsonWriter(out, options).write(value, 0);
    return out;
}

// ---- Parsing ----

namespace {

using Json = nlohmann::json;

// Builds the value straight from the parser's events: no intermediate document, and the
// containers being filled are tracked by pointer (only the innermost one ever grows, so the
// pointers to the outer ones stay valid).
class ValueBuilder {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    bool null() { return add(Value()); }
    bool boolean(bool b) { return add(Value(b)); }
    bool number_integer(number_integer_t i) { return add(Value(static_cast<std::int64_t>(i))); }
    bool number_unsigned(number_unsigned_t u) {
        if (u > static_cast<number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) {
            return add(Value(static_cast<double>(u)));
        }
        return add(Value(static_cast<std::int64_t>(u)));
    }
    bool number_float(number_float_t d, const string_t& text) {
        if (!std::isfinite(d)) return fail("number out of range: " + text);
        return add(Value(d));
    }
    bool string(string_t& s) { return add(Value(std::move(s))); }
    bool binary(binary_t&) { return fail("binary values are not JSON"); }

    bool start_object(std::size_t) {
        if (!open()) return false;
        return push(Value(Dictionary()));
    }
    bool key(string_t& k) {
        pendingKey_ = std::move(k);
        return true;
    }
    bool end_object() {
        stack_.back()->asDictionary()->collapseDuplicateKeys();
        stack_.pop_back();
        return true;
    }
    bool start_array(std::size_t) {
        if (!open()) return false;
        return push(Value(Array()));
    }
    bool end_array() {
        stack_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
        std::string message = ex.what();
        // Drop the library's "[json.exception.parse_error.101] " tag.
        if (!message.empty() && message.front() == '[') {
            const auto end = message.find("] ");
            if (end != std::string::npos) message.erase(0, end + 2);
        }
        return fail(message);
    }

    Value& root() { return root_; }
    const std::string& error() const { return error_; }

private:
    bool open() {
        if (static_cast<int>(stack_.size()) >= kMaxJsonDepth) {
            return fail("JSON text is nested more than " + std::to_string(kMaxJsonDepth) + " levels deep");
        }
        return true;
    }

    bool push(Value container) {
        Value* slot = place(std::move(container));
        stack_.push_back(slot);
        return true;
    }

    bool add(Value value) {
        place(std::move(value));
        return true;
    }

    Value* place(Value value) {
        if (stack_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Value* top = stack_.back();
        if (Array* array = top->asArray()) {
            array->push_back(std::move(value));
            return &array->back();
        }
        Dictionary* dict = top->asDictionary();
        dict->appendUnchecked(std::move(pendingKey_), std::move(value));
        pendingKey_.clear();
        return &(dict->end() - 1)->second;
    }

    bool fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return false;
    }

    Value root_;
    std::vector<Value*> stack_;
    std::string pendingKey_;
    std::string error_;
};

}  // namespace

Result<Value> parseJson(std::string_view text) {
    try {
        ValueBuilder builder;
        const bool ok = Json::sax_parse(text.begin(), text.end(), &builder,
                                        Json::input_format_t::json, /*strict=*/true);
        if (!ok) {
            return Error{"invalid JSON: " +
                         (builder.error().empty() ? std::string("parse failed") : builder.error())};
        }
        return std::move(builder.root());
    } catch (const std::exception& e) {
        return Error{std::string("invalid JSON: ") + e.what()};
    }
}

}  // namespace kit
