#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "fontid/FontRecord.h"

namespace tavo::fontid {

// A record's payload is a few dozen bytes; anything above this is not one.
inline constexpr std::size_t kMaximumRecordSize = 64 * 1024;

// The record's payload: UTF-8 JSON {"fontId":"<id>","version":"<version>"}.
class RecordCodec {
public:
    // None unless the payload is a JSON object whose "fontId" is a non-empty
    // string (or a non-negative integer, taken as its decimal text) and whose
    // "version" is a string. Other members are ignored.
    static std::optional<FontRecord> decode(std::string_view payload);

    // Compact JSON of the record; invalid UTF-8 in a field is replaced, never
    // an exception.
    static std::string encode(const FontRecord& record);
};

}  // namespace tavo::fontid
