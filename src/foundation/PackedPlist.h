#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/PlistValue.h"

namespace tavo {

// A property-list value packed into one block of bytes, for lists that keep
// many values for a long time: a font record of nine fields takes about a
// quarter of a kilobyte this way, against two as a PlistValue with a node and
// a string per field. Unpacking gives back exactly the value that was packed.
//
// The bytes: a tag per value ('s' text, 'd' data, 't'/'f' boolean, 'i'
// integer, 'r' real, 'D' date, 'a' array, 'k' dictionary); lengths and counts
// as base-128 numbers; integers, reals and dates as eight bytes.
class PackedPlist {
public:
    PackedPlist() = default;
    explicit PackedPlist(const PlistValue& value);

    PlistValue value() const;
    // Whether the value is a dictionary.
    bool isDict() const;
    // The text a dictionary holds under a key; none when the value is not a
    // dictionary, or the key is missing or holds something else.
    std::optional<std::string_view> text(std::string_view key) const;
    // Bytes held, for memory accounting.
    std::size_t size() const { return bytes_.size(); }

    bool operator==(const PackedPlist&) const = default;

private:
    std::string bytes_;
};

}  // namespace tavo
