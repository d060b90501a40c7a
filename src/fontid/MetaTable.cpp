#include "fontid/MetaTable.h"

#include <hb-ot.h>

#include "fontid/HbHandle.h"

namespace tavo::fontid {

namespace {

void appendUInt32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

constexpr std::size_t kHeaderSize = 16;   // version, flags, reserved, dataMapsCount
constexpr std::size_t kDataMapSize = 12;  // tag, dataOffset, dataLength

}  // namespace

std::optional<std::string> MetaTable::entry(hb_face_t* face, hb_tag_t tag) {
    HbBlob blob(hb_ot_meta_reference_entry(face, static_cast<hb_ot_meta_tag_t>(tag)));
    unsigned int length = 0;
    const char* data = hb_blob_get_data(blob.get(), &length);
    if (!data || length == 0)
        return std::nullopt;
    return std::string(data, length);
}

std::vector<MetaEntry> MetaTable::entries(hb_face_t* face) {
    std::vector<MetaEntry> result;
    const unsigned int total = hb_ot_meta_get_entry_tags(face, 0, nullptr, nullptr);
    for (unsigned int start = 0; start < total;) {
        hb_ot_meta_tag_t tags[32];
        unsigned int count = 32;
        hb_ot_meta_get_entry_tags(face, start, &count, tags);
        if (count == 0)
            break;
        for (unsigned int i = 0; i < count; ++i) {
            HbBlob blob(hb_ot_meta_reference_entry(face, tags[i]));
            unsigned int length = 0;
            const char* data = hb_blob_get_data(blob.get(), &length);
            result.emplace_back(static_cast<hb_tag_t>(tags[i]),
                                data ? std::string(data, length) : std::string());
        }
        start += count;
    }
    return result;
}

std::string MetaTable::build(const std::vector<MetaEntry>& entries) {
    std::string table;
    appendUInt32(table, 1);  // version
    appendUInt32(table, 0);  // flags
    appendUInt32(table, 0);  // reserved
    appendUInt32(table, static_cast<std::uint32_t>(entries.size()));
    std::size_t offset = kHeaderSize + kDataMapSize * entries.size();
    for (const auto& [tag, payload] : entries) {
        appendUInt32(table, tag);
        appendUInt32(table, static_cast<std::uint32_t>(offset));
        appendUInt32(table, static_cast<std::uint32_t>(payload.size()));
        offset += payload.size();
    }
    for (const auto& entry : entries)
        table += entry.second;
    return table;
}

}  // namespace tavo::fontid
