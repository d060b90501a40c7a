#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/BaseModel.h"
#include "service/Envelope.h"

namespace tavo {

// One font of the account's font list.
struct Fonts : BaseModel {
    std::optional<std::string> userFontId;
    std::optional<bool> activateFlg;    // set active on the web site
    std::optional<std::string> fontId;  // as used in GET /fonts/{fontId}
    std::optional<std::string> displayFontName;
    std::optional<std::string> fileName;   // the name to install under
    std::optional<std::int64_t> fileSize;  // bytes
    std::optional<std::string> version;
    std::optional<bool> needFontVersionUpdate;
    std::optional<bool> isAvailableFont;
    std::optional<bool> isFreemium;
    std::optional<Json> contractIds;  // a JSON array of plain values

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Fonts&) const = default;
};

// One page of the font list (GET /install-fonts).
struct FontsContainer : BaseModel {
    std::optional<std::vector<Fonts>> fonts;
    std::optional<bool> hasNext;  // another page follows

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const FontsContainer&) const = default;
};

using FontsBase = Envelope<FontsContainer>;

extern template struct Envelope<FontsContainer>;

}  // namespace tavo
