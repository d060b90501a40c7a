#pragma once

#include <hb.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavo::fontid {

// The data map of the OpenType `meta` table that carries the service's record.
inline constexpr hb_tag_t kRecordTag = HB_TAG('O', 'S', 'K', 'V');
inline constexpr hb_tag_t kMetaTableTag = HB_TAG('m', 'e', 't', 'a');

using MetaEntry = std::pair<hb_tag_t, std::string>;

// The `meta` table of one face. Reading goes through HarfBuzz, which checks
// the table (version 1, every data map inside the table) before it hands out
// a byte: a table with one lying data map yields no entries at all.
class MetaTable {
public:
    // The payload of the data map `tag`; none when the face has no such
    // (non-empty) entry or no sound `meta` table.
    static std::optional<std::string> entry(hb_face_t* face, hb_tag_t tag);
    // Every data map of the face, in table order.
    static std::vector<MetaEntry> entries(hb_face_t* face);
    // The bytes of a version-1 `meta` table holding `entries`.
    static std::string build(const std::vector<MetaEntry>& entries);
};

}  // namespace tavo::fontid
