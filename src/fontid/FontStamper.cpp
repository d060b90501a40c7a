#include "fontid/FontStamper.h"

#include <cstdint>
#include <vector>

#include "fontid/FontFile.h"
#include "fontid/HbHandle.h"
#include "fontid/MetaTable.h"
#include "fontid/RecordCodec.h"

namespace tavo::fontid {

namespace {

constexpr hb_tag_t kHeadTag = HB_TAG('h', 'e', 'a', 'd');
// A signature no longer matches once a table changes: font tools drop it.
constexpr hb_tag_t kSignatureTag = HB_TAG('D', 'S', 'I', 'G');
constexpr std::size_t kCheckSumAdjustmentOffset = 8;
constexpr std::uint32_t kCheckSumMagic = 0xB1B0AFBA;

std::vector<hb_tag_t> tableTags(hb_face_t* face) {
    std::vector<hb_tag_t> tags;
    const unsigned int total = hb_face_get_table_tags(face, 0, nullptr, nullptr);
    for (unsigned int start = 0; start < total;) {
        hb_tag_t chunk[64];
        unsigned int count = 64;
        hb_face_get_table_tags(face, start, &count, chunk);
        if (count == 0)
            break;
        tags.insert(tags.end(), chunk, chunk + count);
        start += count;
    }
    return tags;
}

void putUInt32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xff);
}

std::uint32_t checkSum(std::string_view bytes) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const std::size_t at = i + k;
            word = (word << 8) | (at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0);
        }
        sum += word;
    }
    return sum;
}

// The `head` table as added to the new font: its whole-font check sum
// adjustment zeroed, to be set once the font is assembled.
HbBlob headWithoutAdjustment(hb_blob_t* head) {
    unsigned int length = 0;
    const char* data = hb_blob_get_data(head, &length);
    std::string copy(data ? data : "", data ? length : 0);
    if (copy.size() >= kCheckSumAdjustmentOffset + 4)
        putUInt32(copy, kCheckSumAdjustmentOffset, 0);
    return HbBlob(hb_blob_create(copy.data(), static_cast<unsigned int>(copy.size()),
                                 HB_MEMORY_MODE_DUPLICATE, nullptr, nullptr));
}

// Sets head.checkSumAdjustment so that the font's check sum is the magic
// number. HarfBuzz lays the tables out; where `head` landed is found through
// HarfBuzz too, as the distance of its table data from the font's start.
void setCheckSumAdjustment(std::string& font) {
    HbBlob blob(hb_blob_create(font.data(), static_cast<unsigned int>(font.size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    HbFace face(hb_face_create(blob.get(), 0));
    HbBlob head(hb_face_reference_table(face.get(), kHeadTag));
    unsigned int length = 0;
    const char* data = hb_blob_get_data(head.get(), &length);
    if (!data || length < kCheckSumAdjustmentOffset + 4 || data < font.data() ||
        data + length > font.data() + font.size())
        return;
    const std::size_t at = static_cast<std::size_t>(data - font.data()) + kCheckSumAdjustmentOffset;
    face.reset();
    head.reset();
    blob.reset();
    putUInt32(font, at, 0);
    putUInt32(font, at, kCheckSumMagic - checkSum(font));
}

}  // namespace

std::optional<std::string> FontStamper::stamp(std::string_view fontBytes,
                                              const FontRecord& record) {
    if (fontBytes.empty() || fontBytes.size() > kMaximumFontFileSize)
        return std::nullopt;
    HbBlob blob(hb_blob_create(fontBytes.data(), static_cast<unsigned int>(fontBytes.size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    // A collection is refused: stamping one face would drop the others.
    if (hb_face_count(blob.get()) != 1)
        return std::nullopt;
    HbFace face(hb_face_create(blob.get(), 0));
    if (hb_face_get_glyph_count(face.get()) == 0)
        return std::nullopt;

    HbFace builder(hb_face_builder_create());
    for (const hb_tag_t tag : tableTags(face.get())) {
        if (tag == kMetaTableTag || tag == kSignatureTag)
            continue;
        HbBlob table(hb_face_reference_table(face.get(), tag));
        // A table the file cannot hold: a damaged font, not one to serve.
        if (hb_blob_get_length(table.get()) == 0)
            return std::nullopt;
        if (tag == kHeadTag)
            table = headWithoutAdjustment(table.get());
        if (!hb_face_builder_add_table(builder.get(), tag, table.get()))
            return std::nullopt;
    }

    // The font's other data maps stay; a record already there is replaced.
    std::vector<MetaEntry> entries;
    for (MetaEntry& entry : MetaTable::entries(face.get())) {
        if (entry.first != kRecordTag)
            entries.push_back(std::move(entry));
    }
    entries.emplace_back(kRecordTag, RecordCodec::encode(record));
    const std::string meta = MetaTable::build(entries);
    HbBlob metaBlob(hb_blob_create(meta.data(), static_cast<unsigned int>(meta.size()),
                                   HB_MEMORY_MODE_DUPLICATE, nullptr, nullptr));
    if (!hb_face_builder_add_table(builder.get(), kMetaTableTag, metaBlob.get()))
        return std::nullopt;

    HbBlob built(hb_face_reference_blob(builder.get()));
    unsigned int length = 0;
    const char* data = hb_blob_get_data(built.get(), &length);
    if (!data || length == 0)
        return std::nullopt;
    std::string font(data, length);
    setCheckSumAdjustment(font);
    return font;
}

bool FontStamper::stampFile(const std::string& inputPath, const std::string& outputPath,
                            const FontRecord& record) {
    const std::optional<std::string> input = FontFile::read(inputPath);
    if (!input)
        return false;
    const std::optional<std::string> stamped = stamp(*input, record);
    return stamped && FontFile::writeAtomically(outputPath, *stamped);
}

}  // namespace tavo::fontid
