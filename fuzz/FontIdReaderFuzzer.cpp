// libFuzzer target for the font identification reader. Every input is tried
// three ways: as a whole font file, as the `meta` table of a minimal font (so
// mutations reach the data maps and the record quickly), and as a record's
// payload. The only expectation is an answer: no crash, no sanitizer report.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fontid/FontIdReader.h"
#include "fontid/RecordCodec.h"

namespace {

void appendUInt32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

// An sfnt with a single table, `meta`, holding `table`.
std::string fontWithMeta(std::string_view table) {
    std::string font;
    appendUInt32(font, 0x00010000);  // sfnt version
    appendUInt32(font, 0x00010010);  // numTables 1, searchRange 16
    appendUInt32(font, 0x00000000);  // entrySelector 0, rangeShift 0
    appendUInt32(font, 0x6d657461);  // 'meta'
    appendUInt32(font, 0);           // checksum (not checked)
    appendUInt32(font, 28);          // offset
    appendUInt32(font, static_cast<std::uint32_t>(table.size()));
    font.append(table);
    return font;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)tavo::fontid::FontIdReader::readData(bytes);
    (void)tavo::fontid::FontIdReader::readData(fontWithMeta(bytes));
    (void)tavo::fontid::RecordCodec::decode(bytes);
    return 0;
}
