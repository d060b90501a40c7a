#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "fontid/FontRecord.h"

namespace tavo::fontid {

// Reads the service's record from a font file (single font or collection:
// every face is looked at, the first sound record wins). Any file that does
// not carry a well-formed record, whatever is wrong with it (missing, not a
// regular file, above kMaximumFontFileSize, damaged, a lying `meta` table, a
// record that is not the JSON object) is "not one of the service's fonts":
// none, never a crash. A damaged file whose record is still whole is the
// service's. Thread-safe; read() never blocks on a pipe.
class FontIdReader {
public:
    static std::optional<FontRecord> read(const std::string& path);
    static std::optional<FontRecord> readData(std::string_view bytes);
    // The record of bytes that also load as a font: the face that carries
    // the record has glyphs and a font header.
    static std::optional<FontRecord> readFont(std::string_view bytes);

private:
    static std::optional<FontRecord> readRecord(std::string_view bytes, bool mustLoad);
};

}  // namespace tavo::fontid
