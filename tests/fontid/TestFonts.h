#pragma once

#include <hb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavo::fontid::test {

// A single-face TrueType/OpenType font file of the machine, found through
// fontconfig; none when the machine has none.
std::optional<std::string> findSystemFont();

// The output of a command run through the shell (its exit status ignored).
std::string commandOutput(const std::string& command);

// The bytes of `font` with its `meta` table replaced by `meta` verbatim (or
// removed when `meta` is empty), assembled by HarfBuzz's face builder.
std::string withRawMeta(const std::string& font, const std::string& meta);

// A `meta` table written field by field, so tests can make it lie.
struct RawDataMap {
    hb_tag_t tag;
    std::uint32_t offset;
    std::uint32_t length;
};
std::string rawMeta(std::uint32_t version, std::uint32_t count, const std::vector<RawDataMap>& maps,
                    const std::string& payloads);

// A font collection ('ttcf', version 1) holding the given single-face fonts.
std::string makeCollection(const std::vector<std::string>& fonts);

// True when the check sum of the whole font is the OpenType magic number.
bool checkSumIsMagic(const std::string& font);

std::uint32_t readUInt32(const std::string& bytes, std::size_t at);

// Offset and length of a table of a single-face font, from its table
// directory; {0, 0} when the font has no such table.
std::pair<std::size_t, std::size_t> tableRange(const std::string& font, hb_tag_t tag);

}  // namespace tavo::fontid::test
