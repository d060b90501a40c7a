#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/Error.h"

namespace tavo {

class PlistValue;
using PlistData = std::vector<std::uint8_t>;
using PlistArray = std::vector<PlistValue>;
using PlistDict = std::map<std::string, PlistValue>;
using PlistDate = Clock::SystemTime;

// One property-list value: string, data, boolean, integer, real, date, array
// or dictionary. Read from XML or binary property lists, written as XML.
class PlistValue {
public:
    using Variant = std::variant<std::string, PlistData, bool, std::int64_t, double, PlistDate,
                                 PlistArray, PlistDict>;

    PlistValue() : value_(std::string()) {}
    PlistValue(const char* s) : value_(std::string(s)) {}
    PlistValue(std::string s) : value_(std::move(s)) {}
    PlistValue(PlistData d) : value_(std::move(d)) {}
    PlistValue(bool b) : value_(b) {}
    PlistValue(int i) : value_(static_cast<std::int64_t>(i)) {}
    PlistValue(std::int64_t i) : value_(i) {}
    PlistValue(double d) : value_(d) {}
    PlistValue(PlistDate d) : value_(d) {}
    PlistValue(PlistArray a) : value_(std::move(a)) {}
    PlistValue(PlistDict d) : value_(std::move(d)) {}

    template <typename T>
    bool is() const {
        return std::holds_alternative<T>(value_);
    }
    // The value when it has that type, else nullptr.
    template <typename T>
    const T* get() const {
        return std::get_if<T>(&value_);
    }
    template <typename T>
    T* get() {
        return std::get_if<T>(&value_);
    }
    const Variant& variant() const { return value_; }

    bool operator==(const PlistValue& other) const { return value_ == other.value_; }

    // Parses an XML or binary property list; none when it is not one.
    static std::optional<PlistValue> parse(std::string_view bytes);
    // Reads a file; none when missing, unreadable or not a property list.
    static std::optional<PlistValue> readFile(const std::string& path);
    std::string toXml() const;
    // Writes the value as an XML property list with the given mode.
    bool writeToFile(const std::string& path, bool atomically, mode_t mode,
                     Error* error = nullptr) const;

    // A short text of the value for logs and tools.
    std::string text() const;

private:
    Variant value_;
};

// The value of a key of a dictionary, when present with that type.
template <typename T>
const T* plistGet(const PlistDict& dict, const std::string& key) {
    const auto it = dict.find(key);
    return it == dict.end() ? nullptr : it->second.get<T>();
}

}  // namespace tavo
