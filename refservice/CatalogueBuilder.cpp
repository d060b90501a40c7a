#include "refservice/CatalogueBuilder.h"

#include <cstdio>
#include <filesystem>

#include "refservice/Params.h"
#include "refservice/SystemFonts.h"

namespace fs = std::filesystem;

namespace tavo::refservice {

std::optional<CatalogueFont> CatalogueBuilder::fromSpec(
    const nlohmann::json& spec, const std::string& baseDir,
    const std::optional<std::string>& sourceBytes, std::string* error) const {
    CatalogueFont font;
    font.fontId = Params::text(spec, "fontId").value_or("");
    font.version = Params::text(spec, "version").value_or("1.000");
    const std::string source = Params::text(spec, "source").value_or("");
    if (font.fontId.empty()) {
        *error = "a font needs a fontId";
        return std::nullopt;
    }
    const std::string sourceName = fs::path(source).filename().string();
    font.fileName = Params::text(spec, "fileName").value_or(sourceName);
    font.displayFontName =
        Params::text(spec, "displayFontName").value_or(fs::path(font.fileName).stem().string());
    font.isFreemium = spec.value("isFreemium", false);
    if (font.fileName.empty() || font.fileName.find('/') != std::string::npos) {
        *error = "font " + font.fontId + " needs a plain fileName";
        return std::nullopt;
    }
    std::optional<CatalogueFont> made;
    if (sourceBytes) {
        made = files_.make(font, *sourceBytes);
    } else {
        fs::path path(source);
        if (path.is_relative() && !baseDir.empty())
            path = fs::path(baseDir) / path;
        if (source.empty()) {
            *error = "font " + font.fontId + " needs a source";
            return std::nullopt;
        }
        made = files_.makeFromFile(font, path.string());
    }
    if (!made)
        *error = "font " + font.fontId + ": the source is not a readable font";
    return made;
}

std::vector<CatalogueFont> CatalogueBuilder::systemFonts(long firstId, const std::string& version,
                                                         std::size_t limit) const {
    std::vector<CatalogueFont> fonts;
    long id = firstId;
    for (const SystemFont& system : SystemFonts::list()) {
        if (limit && fonts.size() >= limit)
            break;
        CatalogueFont font;
        font.fontId = std::to_string(id);
        font.version = version;
        font.fileName = fs::path(system.path).filename().string();
        font.displayFontName = system.displayName;
        if (auto made = files_.makeFromFile(std::move(font), system.path)) {
            fonts.push_back(std::move(*made));
            ++id;
        }
    }
    return fonts;
}

std::vector<CatalogueFont> CatalogueBuilder::synthetic(std::size_t count, long firstId,
                                                       const std::string& version) const {
    std::vector<CatalogueFont> fonts;
    if (count == 0)
        return fonts;
    const auto base = SystemFonts::smallFont();
    if (!base)
        return fonts;
    fonts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "%05zu", i + 1);
        CatalogueFont font;
        font.fontId = std::to_string(firstId + static_cast<long>(i));
        font.version = version;
        font.fileName = std::string("Synthetic-") + number + ".ttf";
        font.displayFontName = std::string("Synthetic ") + number;
        if (auto made = files_.make(std::move(font), *base))
            fonts.push_back(std::move(*made));
    }
    return fonts;
}

}  // namespace tavo::refservice
