#include "kit/base/PropertyList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "kit/base/PrivateFiles.h"

#include <plist/plist.h>

namespace kit {

namespace {

namespace fs = std::filesystem;

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

constexpr std::string_view kBinaryMagic = "bplist00";

// Binary object graphs may share objects, so a small file can stand for a huge tree; the
// library expands every reference, so the expansion is bounded before it is asked to.
constexpr std::uint64_t kMaxExpandedObjects = 2'000'000;

// ---- Checks made before the library sees the bytes (it recurses without a limit) ----

bool xmlNestingTooDeep(std::string_view text) {
    int depth = 0;
    std::size_t i = 0;
    while ((i = text.find('<', i)) != std::string_view::npos) {
        ++i;
        const bool closing = i < text.size() && text[i] == '/';
        const std::size_t nameStart = closing ? i + 1 : i;
        std::string_view rest = text.substr(nameStart);
        std::size_t nameLength = 0;
        if (rest.starts_with("array")) nameLength = 5;
        else if (rest.starts_with("dict")) nameLength = 4;
        else continue;
        const char after = nameLength < rest.size() ? rest[nameLength] : '\0';
        if (after != '>' && after != '/' && after != ' ' && after != '\t' && after != '\n' && after != '\r') {
            continue;
        }
        if (closing) {
            if (depth > 0) --depth;
            continue;
        }
        const std::size_t end = text.find('>', nameStart);
        if (end != std::string_view::npos && text[end - 1] == '/') continue;  // <array/>
        if (++depth > kMaxPropertyListDepth) return true;
    }
    return false;
}

std::uint64_t readBigEndian(const unsigned char* p, unsigned size) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size; ++i) value = (value << 8) | p[i];
    return value;
}

// Walks the object graph of a binary property list: the nesting depth, cycles and the size of
// the tree once shared objects are expanded. Leaves the details of each object to the library.
std::string checkBinaryGraph(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::uint64_t size = bytes.size();
    constexpr std::uint64_t kTrailerSize = 32;
    if (size < kBinaryMagic.size() + kTrailerSize + 1) return "binary property list is truncated";
    const unsigned char* trailer = data + size - kTrailerSize;
    const unsigned offsetSize = trailer[6];
    const unsigned refSize = trailer[7];
    const std::uint64_t objectCount = readBigEndian(trailer + 8, 8);
    const std::uint64_t topObject = readBigEndian(trailer + 16, 8);
    const std::uint64_t tableOffset = readBigEndian(trailer + 24, 8);
    const std::uint64_t objectsEnd = size - kTrailerSize;
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objectCount == 0 ||
        topObject >= objectCount || tableOffset < kBinaryMagic.size() || tableOffset >= objectsEnd ||
        objectCount > (objectsEnd - tableOffset) / offsetSize) {
        return "binary property list has a damaged trailer";
    }

    struct Node {
        std::uint64_t firstRef = 0;  // position of the first reference
        std::uint64_t refCount = 0;
        bool container = false;
        bool isDictionary = false;
    };
    auto objectOffset = [&](std::uint64_t index, std::uint64_t& offset) -> bool {
        offset = readBigEndian(data + tableOffset + index * offsetSize, offsetSize);
        return offset >= kBinaryMagic.size() && offset < tableOffset;
    };
    // The length that a marker's low half gives, or the integer object that follows it, and
    // where the object's contents start.
    auto objectLength = [&](std::uint64_t offset, std::uint64_t& length, std::uint64_t& position) -> bool {
        length = data[offset] & 0xF;
        position = offset + 1;
        if (length != 0xF) return true;
        if (position >= tableOffset) return false;
        const unsigned char intMarker = data[position];
        if ((intMarker >> 4) != 0x1 || (intMarker & 0xF) > 3) return false;
        const unsigned intSize = 1u << (intMarker & 0xF);
        if (position + 1 + intSize > tableOffset) return false;
        length = readBigEndian(data + position + 1, intSize);
        position += 1 + intSize;
        return true;
    };
    auto inspectObject = [&](std::uint64_t index, Node& node) -> bool {
        std::uint64_t offset = 0, count = 0, position = 0;
        if (!objectOffset(index, offset)) return false;
        const unsigned kind = data[offset] >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD) return true;
        if (!objectLength(offset, count, position)) return false;
        const std::uint64_t refs = kind == 0xD ? count * 2 : count;
        if (count > tableOffset || refs > (tableOffset - position) / refSize) return false;
        node = {position, refs, true, kind == 0xD};
        return true;
    };
    // The library asserts (and so aborts) when a key holds a NUL character; look at the keys
    // of each dictionary before it does.
    auto keyIsSafe = [&](std::uint64_t index) -> bool {
        std::uint64_t offset = 0, count = 0, position = 0;
        if (!objectOffset(index, offset)) return false;
        const unsigned kind = data[offset] >> 4;
        if (kind != 0x5 && kind != 0x6 && kind != 0x7) return true;  // the library rejects these
        if (!objectLength(offset, count, position)) return false;
        const std::uint64_t unit = kind == 0x6 ? 2 : 1;
        if (count > (tableOffset - position) / unit) return false;
        for (std::uint64_t i = 0; i < count; ++i) {
            const unsigned char* c = data + position + i * unit;
            if (c[0] == 0 && (unit == 1 || c[1] == 0)) return false;
        }
        return true;
    };

    enum : std::uint8_t { kUnseen, kOpen, kDone };
    std::vector<std::uint8_t> state(objectCount, kUnseen);
    std::vector<std::uint16_t> depth(objectCount, 0);
    std::vector<std::uint64_t> expanded(objectCount, 0);
    std::vector<bool> keyChecked(objectCount, false);
    struct Frame {
        std::uint64_t index;
        Node node;
        std::uint64_t nextRef = 0;
        std::uint16_t deepestChild = 0;
        std::uint64_t total = 1;
    };
    std::vector<Frame> stack;

    auto enter = [&](std::uint64_t index) -> std::string {
        Node node;
        if (!inspectObject(index, node)) return "binary property list has a damaged object";
        if (!node.container) {
            state[index] = kDone;
            expanded[index] = 1;
            return {};
        }
        if (stack.size() >= static_cast<std::size_t>(kMaxPropertyListDepth)) {
            return "property list is nested too deeply";
        }
        state[index] = kOpen;
        stack.push_back({index, node});
        return {};
    };

    if (std::string error = enter(topObject); !error.empty()) return error;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.nextRef == frame.node.refCount) {
            const Frame done = frame;
            stack.pop_back();
            state[done.index] = kDone;
            depth[done.index] = static_cast<std::uint16_t>(done.deepestChild + 1);
            expanded[done.index] = done.total;
            if (!stack.empty()) {
                Frame& parent = stack.back();
                parent.deepestChild = std::max(parent.deepestChild, depth[done.index]);
                parent.total += done.total;
                if (parent.total > kMaxExpandedObjects) return "binary property list expands to too many objects";
            }
            continue;
        }
        const std::uint64_t child =
            readBigEndian(data + frame.node.firstRef + frame.nextRef * refSize, refSize);
        ++frame.nextRef;
        if (child >= objectCount) return "binary property list refers to a missing object";
        const bool isKey = frame.node.isDictionary && frame.nextRef <= frame.node.refCount / 2;
        if (isKey && !keyChecked[child]) {
            if (!keyIsSafe(child)) return "binary property list has a damaged key";
            keyChecked[child] = true;
        }
        if (state[child] == kOpen) return "binary property list contains itself";
        if (state[child] == kUnseen) {
            if (std::string error = enter(child); !error.empty()) return error;
            if (state[child] == kOpen) continue;  // its frame reports back when it is done
        }
        Frame& parent = stack.back();
        parent.deepestChild = std::max(parent.deepestChild, depth[child]);
        parent.total += expanded[child];
        if (parent.total > kMaxExpandedObjects) return "binary property list expands to too many objects";
    }
    return {};
}

// ---- Library tree to value ----

class TreeReader {
public:
    bool read(plist_t node, Value& out, int depth) {
        if (!node) return fail("property list is incomplete");
        switch (plist_get_node_type(node)) {
            case PLIST_BOOLEAN: {
                std::uint8_t b = 0;
                plist_get_bool_val(node, &b);
                out = Value(b != 0);
                return true;
            }
            case PLIST_UINT: {
                std::uint64_t u = 0;
                plist_get_uint_val(node, &u);
                out = readInteger(node, u);
                return true;
            }
            case PLIST_REAL: {
                double d = 0;
                plist_get_real_val(node, &d);
                out = Value(d);
                return true;
            }
            case PLIST_STRING: {
                std::uint64_t length = 0;
                const char* s = plist_get_string_ptr(node, &length);
                if (!s && length) return fail("property list has an unreadable string");
                std::string text(s ? s : "", s ? length : 0);
                if (!isValidUtf8(text)) return fail("property list has a string that is not UTF-8");
                out = Value(std::move(text));
                return true;
            }
            case PLIST_DATA: {
                std::uint64_t length = 0;
                const char* bytes = plist_get_data_ptr(node, &length);
                if (!bytes && length) return fail("property list has unreadable data");
                const auto* first = reinterpret_cast<const std::uint8_t*>(bytes);
                out = Value(bytes ? Data(first, first + length) : Data());
                return true;
            }
            case PLIST_DATE: {
                std::int32_t seconds = 0, microseconds = 0;
                plist_get_date_val(node, &seconds, &microseconds);
                // The library gives the fraction of a negative time as a positive number.
                double fraction = std::fabs(static_cast<double>(microseconds)) / 1e6;
                if (!(fraction < 1)) fraction = 0;  // out of the library's range: garbage
                out = Value(Date{seconds < 0 ? seconds - fraction : seconds + fraction});
                return true;
            }
            case PLIST_UID: {
                std::uint64_t uid = 0;
                plist_get_uid_val(node, &uid);
                Dictionary dict;
                dict.appendUnchecked("CF$UID", Value(static_cast<std::int64_t>(uid)));
                out = Value(std::move(dict));
                return true;
            }
            case PLIST_ARRAY: return readArray(node, out, depth);
            case PLIST_DICT: return readDictionary(node, out, depth);
            default: return fail("property list has an object of an unknown kind");
        }
    }

    const std::string& error() const { return error_; }

private:
    static Value readInteger(plist_t node, std::uint64_t u) {
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return Value(static_cast<std::int64_t>(u));
        }
        // Negative numbers and unsigned ones above INT64_MAX share these bits; the library
        // tells them apart only by comparison with a node made as a signed number.
        PlistPtr reference(plist_new_uint(u));
        if (reference && plist_compare_node_value(node, static_cast<plist_t>(reference.get()))) {
            return Value(static_cast<std::int64_t>(u));
        }
        return Value(static_cast<double>(u));
    }

    bool readArray(plist_t node, Value& out, int depth) {
        if (depth >= kMaxPropertyListDepth) return fail("property list is nested too deeply");
        const std::uint32_t count = plist_array_get_size(node);
        Array array;
        array.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            array.emplace_back();
            if (!read(plist_array_get_item(node, i), array.back(), depth + 1)) return false;
        }
        out = Value(std::move(array));
        return true;
    }

    bool readDictionary(plist_t node, Value& out, int depth) {
        if (depth >= kMaxPropertyListDepth) return fail("property list is nested too deeply");
        Dictionary dict;
        dict.reserve(plist_dict_get_size(node));
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        if (!iter) return fail("out of memory");
        std::unique_ptr<void, decltype(&std::free)> iterOwner(iter, &std::free);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iter, &key, &item);
            std::unique_ptr<char, decltype(&std::free)> keyOwner(key, &std::free);
            if (!item) break;
            if (!key) return fail("property list has a dictionary entry without a key");
            std::string keyText(key);
            if (!isValidUtf8(keyText)) return fail("property list has a key that is not UTF-8");
            Value value;
            if (!read(item, value, depth + 1)) return false;
            dict.appendUnchecked(std::move(keyText), std::move(value));
        }
        dict.collapseDuplicateKeys();
        out = Value(std::move(dict));
        return true;
    }

    bool fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return false;
    }

    std::string error_;
};

// ---- Value to library tree ----

class TreeWriter {
public:
    PlistPtr build(const Value& value, int depth) {
        switch (value.type()) {
            case ValueType::Null: return fail("a null value has no property-list form");
            case ValueType::Bool: return PlistPtr(plist_new_bool(*value.asBool() ? 1 : 0));
            case ValueType::Integer:
                return PlistPtr(plist_new_uint(static_cast<std::uint64_t>(*value.asInteger())));
            case ValueType::Real: return PlistPtr(plist_new_real(*value.asReal()));
            case ValueType::String: {
                const std::string& s = *value.asString();
                if (!checkText(s, "string")) return nullptr;
                return PlistPtr(plist_new_string(s.c_str()));
            }
            case ValueType::Data: {
                const Data& data = *value.asData();
                return PlistPtr(plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));
            }
            case ValueType::Date: return PlistPtr(newDate(*value.asDate()));
            case ValueType::Array: {
                if (depth >= kMaxPropertyListDepth) return fail("value is nested too deeply for a property list");
                PlistPtr array(plist_new_array());
                for (const Value& item : *value.asArray()) {
                    PlistPtr child = build(item, depth + 1);
                    if (!child) return nullptr;
                    plist_array_append_item(static_cast<plist_t>(array.get()), child.release());
                }
                return array;
            }
            case ValueType::Dictionary: {
                if (depth >= kMaxPropertyListDepth) return fail("value is nested too deeply for a property list");
                PlistPtr dict(plist_new_dict());
                for (const auto& [key, item] : *value.asDictionary()) {
                    if (!checkText(key, "key")) return nullptr;
                    PlistPtr child = build(item, depth + 1);
                    if (!child) {
                        if (error_.find(" (in ") == std::string::npos) {
                            error_ += " (in \"" + key + "\")";
                        }
                        return nullptr;
                    }
                    plist_dict_set_item(static_cast<plist_t>(dict.get()), key.c_str(), child.release());
                }
                return dict;
            }
        }
        return fail("value of an unknown kind");
    }

    const std::string& error() const { return error_; }

private:
    static plist_t newDate(const Date& date) {
        double seconds = date.secondsSinceReferenceDate;
        if (std::isnan(seconds)) seconds = 0;
        seconds = std::clamp(seconds, double(std::numeric_limits<std::int32_t>::min()),
                             double(std::numeric_limits<std::int32_t>::max()));
        double whole = std::trunc(seconds);
        double micro = std::round((seconds - whole) * 1e6);
        if (std::fabs(micro) >= 1e6) {
            whole += micro > 0 ? 1 : -1;
            micro = 0;
            whole = std::clamp(whole, double(std::numeric_limits<std::int32_t>::min()),
                               double(std::numeric_limits<std::int32_t>::max()));
        }
        return plist_new_date(static_cast<std::int32_t>(whole), static_cast<std::int32_t>(micro));
    }

    bool checkText(const std::string& s, const char* what) {
        if (s.find('\0') != std::string::npos) {
            fail(std::string("a ") + what + " with a NUL character has no property-list form");
            return false;
        }
        if (!isValidUtf8(s)) {
            fail(std::string("a ") + what + " that is not UTF-8 has no property-list form");
            return false;
        }
        return true;
    }

    PlistPtr fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return nullptr;
    }

    std::string error_;
};

std::string errnoText(int error) { return std::strerror(error); }

}  // namespace

Result<Value> parsePropertyList(std::string_view bytes) {
    try {
        if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
            return Error{"property list is too large"};
        }
        PlistPtr root;
        if (bytes.starts_with(kBinaryMagic)) {
            if (std::string error = checkBinaryGraph(bytes); !error.empty()) return Error{error};
            plist_t node = nullptr;
            plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &node);
            root.reset(node);
            if (!root) return Error{"binary property list is damaged"};
        } else {
            std::string_view text = bytes;
            if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
            if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
                return Error{"property list is empty"};
            }
            if (xmlNestingTooDeep(text)) return Error{"property list is nested too deeply"};
            plist_t node = nullptr;
            plist_from_xml(text.data(), static_cast<std::uint32_t>(text.size()), &node);
            root.reset(node);
            if (!root) return Error{"not a property list, or a damaged or truncated one"};
        }
        TreeReader reader;
        Value value;
        if (!reader.read(static_cast<plist_t>(root.get()), value, 0)) return Error{reader.error()};
        return value;
    } catch (const std::exception& e) {
        return Error{std::string("cannot read a property list: ") + e.what()};
    }
}

Result<Value> readPropertyListFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Error{"cannot open " + path.string() + ": " + errnoText(errno)};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        return Error{"cannot read " + path.string() + ": " + errnoText(error ? error : EINVAL)};
    }
    std::string bytes;
    try {
        bytes.reserve(static_cast<std::size_t>(info.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                const int error = errno;
                ::close(fd);
                return Error{"cannot read " + path.string() + ": " + errnoText(error)};
            }
            if (n == 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return Error{"cannot read " + path.string() + ": file is too large"};
    }
    ::close(fd);
    auto parsed = parsePropertyList(bytes);
    if (!parsed) return Error{path.string() + ": " + parsed.error()};
    return parsed;
}

Result<std::string> propertyListXml(const Value& value) {
    try {
        TreeWriter writer;
        PlistPtr root = writer.build(value, 0);
        if (!root) return Error{writer.error()};
        char* xml = nullptr;  // the library writes nothing unless this starts out null
        std::uint32_t length = 0;
        plist_to_xml(static_cast<plist_t>(root.get()), &xml, &length);
        if (!xml) return Error{"could not make the XML form of a property list"};
        std::unique_ptr<char, decltype(&plist_to_xml_free)> owner(xml, &plist_to_xml_free);
        return std::string(xml, length);
    } catch (const std::bad_alloc&) {
        return Error{"out of memory while writing a property list"};
    }
}

Status writePropertyListFile(const fs::path& path, const Value& value) {
    auto xml = propertyListXml(value);
    if (!xml) return Error{"cannot write " + path.string() + ": " + xml.error()};
    return writeFileAtomically(path, *xml);
}

Status writeFileAtomically(const fs::path& path, std::string_view bytes) {
    if (path.empty() || !path.has_filename()) return Error{"cannot write \"" + path.string() + "\": not a file path"};
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        fs::path resolved = fs::canonical(path, ec);
        if (!ec) target = resolved;
    }
    const std::string where = path.string();
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) return Error{"cannot write " + where + ": it is a folder"};

    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    static std::atomic<unsigned> counter{0};
    const std::string stem = "." + target.filename().string().substr(0, 128) + ".tmp";
    fs::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        temporary = folder / (stem + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                              std::to_string(static_cast<unsigned>(ticks) & 0xffffff));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return Error{"cannot write " + where + ": " + errnoText(errno)};

    auto failWith = [&](int error) -> Status {
        if (fd >= 0) ::close(fd);
        ::unlink(temporary.c_str());
        return Error{"cannot write " + where + ": " + errnoText(error)};
    };
    // The replaced file's mode goes on, less what group and others had of a file of ours.
    if (exists && S_ISREG(existing.st_mode)) {
        mode_t mode = existing.st_mode & 07777;
        if (existing.st_uid == ::geteuid()) mode &= 07700;
        if (::fchmod(fd, mode) != 0) return failWith(errno);
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failWith(errno);
        if (n == 0) return failWith(EIO);
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return failWith(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return failWith(errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return failWith(errno);
    // Make the rename itself durable; a failure here no longer endangers either file.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return Status::success();
}

}  // namespace kit
