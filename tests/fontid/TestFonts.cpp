#include "fontid/TestFonts.h"

#include <cstdio>
#include <memory>
#include <sstream>

#include "fontid/FontFile.h"
#include "fontid/HbHandle.h"
#include "fontid/MetaTable.h"

namespace tavo::fontid::test {

namespace {

void appendUInt32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

void putUInt32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xff);
}

std::uint16_t readUInt16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                      static_cast<unsigned char>(bytes[at + 1]));
}

bool isSingleFace(const std::string& path) {
    const std::optional<std::string> bytes = FontFile::read(path);
    if (!bytes)
        return false;
    HbBlob blob(hb_blob_create(bytes->data(), static_cast<unsigned int>(bytes->size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    return hb_face_count(blob.get()) == 1;
}

}  // namespace

std::string commandOutput(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        return {};
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
        out.append(buffer, n);
    return out;
}

std::optional<std::string> findSystemFont() {
    const std::string preferred = commandOutput("fc-match -f '%{file}' 'DejaVu Sans' 2>/dev/null");
    std::vector<std::string> candidates{preferred};
    std::istringstream listed(
        commandOutput("fc-list -f '%{file}\\n' ':fontformat=TrueType' 2>/dev/null"));
    for (std::string line; std::getline(listed, line);)
        candidates.push_back(line);
    for (const std::string& path : candidates) {
        const bool sfnt = path.ends_with(".ttf") || path.ends_with(".otf");
        if (sfnt && isSingleFace(path))
            return path;
    }
    return std::nullopt;
}

std::string withRawMeta(const std::string& font, const std::string& meta) {
    HbBlob blob(hb_blob_create(font.data(), static_cast<unsigned int>(font.size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    HbFace face(hb_face_create(blob.get(), 0));
    HbFace builder(hb_face_builder_create());
    hb_tag_t tags[128];
    unsigned int count = 128;
    hb_face_get_table_tags(face.get(), 0, &count, tags);
    for (unsigned int i = 0; i < count; ++i) {
        if (tags[i] == kMetaTableTag)
            continue;
        HbBlob table(hb_face_reference_table(face.get(), tags[i]));
        hb_face_builder_add_table(builder.get(), tags[i], table.get());
    }
    if (!meta.empty()) {
        HbBlob table(hb_blob_create(meta.data(), static_cast<unsigned int>(meta.size()),
                                    HB_MEMORY_MODE_DUPLICATE, nullptr, nullptr));
        hb_face_builder_add_table(builder.get(), kMetaTableTag, table.get());
    }
    HbBlob built(hb_face_reference_blob(builder.get()));
    unsigned int length = 0;
    const char* data = hb_blob_get_data(built.get(), &length);
    return std::string(data ? data : "", data ? length : 0);
}

std::string rawMeta(std::uint32_t version, std::uint32_t count, const std::vector<RawDataMap>& maps,
                    const std::string& payloads) {
    std::string table;
    appendUInt32(table, version);
    appendUInt32(table, 0);
    appendUInt32(table, 0);
    appendUInt32(table, count);
    for (const RawDataMap& map : maps) {
        appendUInt32(table, map.tag);
        appendUInt32(table, map.offset);
        appendUInt32(table, map.length);
    }
    return table + payloads;
}

std::string makeCollection(const std::vector<std::string>& fonts) {
    std::string collection;
    appendUInt32(collection, HB_TAG('t', 't', 'c', 'f'));
    appendUInt32(collection, 0x00010000);
    appendUInt32(collection, static_cast<std::uint32_t>(fonts.size()));
    const std::size_t offsetsAt = collection.size();
    collection.append(4 * fonts.size(), '\0');
    for (std::size_t i = 0; i < fonts.size(); ++i) {
        while (collection.size() % 4 != 0)
            collection.push_back('\0');
        const std::size_t base = collection.size();
        putUInt32(collection, offsetsAt + 4 * i, static_cast<std::uint32_t>(base));
        std::string font = fonts[i];
        // Table offsets of a collection count from the start of the file.
        const std::uint16_t tables = readUInt16(font, 4);
        for (std::uint16_t t = 0; t < tables; ++t) {
            const std::size_t record = 12 + 16 * static_cast<std::size_t>(t);
            putUInt32(font, record + 8,
                      static_cast<std::uint32_t>(readUInt32(font, record + 8) + base));
        }
        collection += font;
    }
    return collection;
}

bool checkSumIsMagic(const std::string& font) {
    std::uint32_t sum = 0;
    std::string padded = font;
    while (padded.size() % 4 != 0)
        padded.push_back('\0');
    for (std::size_t i = 0; i < padded.size(); i += 4)
        sum += readUInt32(padded, i);
    return sum == 0xB1B0AFBA;
}

std::uint32_t readUInt32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::pair<std::size_t, std::size_t> tableRange(const std::string& font, hb_tag_t tag) {
    const std::uint16_t tables = readUInt16(font, 4);
    for (std::uint16_t t = 0; t < tables; ++t) {
        const std::size_t record = 12 + 16 * static_cast<std::size_t>(t);
        if (readUInt32(font, record) == tag)
            return {readUInt32(font, record + 8), readUInt32(font, record + 12)};
    }
    return {0, 0};
}

}  // namespace tavo::fontid::test
