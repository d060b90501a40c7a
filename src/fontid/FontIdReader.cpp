#include "fontid/FontIdReader.h"

#include <algorithm>

#include "fontid/FontFile.h"
#include "fontid/HbHandle.h"
#include "fontid/MetaTable.h"
#include "fontid/RecordCodec.h"

namespace tavo::fontid {

namespace {

// Collections hold a handful of faces; a header that claims thousands is not
// worth a look at each.
constexpr unsigned int kMaximumFaces = 256;
// The smallest font: an sfnt header and one table record.
constexpr std::size_t kMinimumFontSize = 12 + 16;

// Whether a face is usable as a font: a complete font header and glyphs.
bool loadsAsFont(hb_face_t* face) {
    constexpr unsigned int kHeadTableSize = 54;
    HbBlob head(hb_face_reference_table(face, HB_TAG('h', 'e', 'a', 'd')));
    return hb_blob_get_length(head.get()) >= kHeadTableSize && hb_face_get_glyph_count(face) > 0;
}

}  // namespace

std::optional<FontRecord> FontIdReader::read(const std::string& path) {
    const std::optional<std::string> bytes = FontFile::read(path);
    if (!bytes)
        return std::nullopt;
    return readData(*bytes);
}

std::optional<FontRecord> FontIdReader::readData(std::string_view bytes) { return readRecord(bytes, false); }

std::optional<FontRecord> FontIdReader::readFont(std::string_view bytes) { return readRecord(bytes, true); }

std::optional<FontRecord> FontIdReader::readRecord(std::string_view bytes, bool mustLoad) {
    if (bytes.size() < kMinimumFontSize || bytes.size() > kMaximumFontFileSize)
        return std::nullopt;
    // Read-only: where HarfBuzz must mend a structure to check it, it works
    // on a copy of its own.
    HbBlob blob(hb_blob_create(bytes.data(), static_cast<unsigned int>(bytes.size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    const unsigned int faces = std::min(hb_face_count(blob.get()), kMaximumFaces);
    // Every face of a collection may carry the record; the first one found wins.
    for (unsigned int index = 0; index < faces; ++index) {
        HbFace face(hb_face_create(blob.get(), index));
        const std::optional<std::string> payload = MetaTable::entry(face.get(), kRecordTag);
        if (!payload)
            continue;
        std::optional<FontRecord> record = RecordCodec::decode(*payload);
        if (!record)
            continue;
        if (mustLoad && !loadsAsFont(face.get()))
            continue;
        return record;
    }
    return std::nullopt;
}

}  // namespace tavo::fontid
