#pragma once

#include <string>

namespace tavo::fontid {

// The identification record the service writes into every font file it
// delivers: OpenType `meta` table, data map tag 'OSKV', UTF-8 JSON
// {"fontId":"<id>","version":"<version>"}.
struct FontRecord {
    std::string fontId;
    std::string version;
    bool operator==(const FontRecord&) const = default;
};

}  // namespace tavo::fontid
