#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "refservice/ServiceModels.h"

namespace tavo::refservice {

// Makes the files the service serves: every font is stamped with its
// identification record ({fontId, version}) and kept in memory, or, with a
// data folder, on disk, where a file stamped by an earlier run is reused.
class FontFiles {
public:
    explicit FontFiles(std::string dataDir = {});

    // Stamps source (a font file's bytes) for the font described, fills its
    // file and size; none when the source is not a font.
    std::optional<CatalogueFont> make(CatalogueFont font, std::string_view source) const;
    // Same, reading the source from a path.
    std::optional<CatalogueFont> makeFromFile(CatalogueFont font, const std::string& path) const;

    // The stamped bytes of a catalogue font (from memory or disk).
    static std::optional<std::string> bytes(const std::shared_ptr<const std::string>& file,
                                            const std::string& filePath);
    static std::optional<std::string> readFile(const std::string& path);

private:
    std::string cachePath(const CatalogueFont& font) const;

    std::string dataDir_;
};

}  // namespace tavo::refservice
