#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "refservice/FontFiles.h"
#include "refservice/ServiceModels.h"

namespace tavo::refservice {

// Turns font descriptions into stamped catalogue fonts: seed and admin
// entries, the fonts installed on the machine, and synthetic copies.
class CatalogueBuilder {
public:
    explicit CatalogueBuilder(const FontFiles& files) : files_(files) {}

    // A catalogue entry {"fontId", "displayFontName", "fileName", "version",
    // "isFreemium", "source"}; source is a font file path (relative paths are
    // taken from baseDir) unless sourceBytes are given. None with a reason.
    std::optional<CatalogueFont> fromSpec(const nlohmann::json& spec, const std::string& baseDir,
                                          const std::optional<std::string>& sourceBytes,
                                          std::string* error) const;
    // The installed .ttf/.otf fonts, numbered from firstId (0: every font).
    std::vector<CatalogueFont> systemFonts(long firstId, const std::string& version,
                                           std::size_t limit) const;
    // count copies of one small font, each with its own id and record.
    std::vector<CatalogueFont> synthetic(std::size_t count, long firstId,
                                         const std::string& version) const;

private:
    const FontFiles& files_;
};

}  // namespace tavo::refservice
