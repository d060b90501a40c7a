#include "refservice/SystemFonts.h"

#include <fontconfig/fontconfig.h>
#include <hb-subset.h>
#include <hb.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "refservice/FontFiles.h"

namespace tavo::refservice {

namespace {

std::string stringOf(FcPattern* pattern, const char* object) {
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || !value)
        return {};
    return reinterpret_cast<const char*>(value);
}

bool isSingleFontFile(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".ttf" || extension == ".otf";
}

std::optional<std::string> subset(const std::string& font, const std::string& sample) {
    hb_blob_t* blob = hb_blob_create(font.data(), static_cast<unsigned>(font.size()),
                                     HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    hb_face_t* face = hb_face_create(blob, 0);
    hb_blob_destroy(blob);
    hb_subset_input_t* input = hb_subset_input_create_or_fail();
    std::optional<std::string> result;
    if (input) {
        hb_set_t* unicodes = hb_subset_input_unicode_set(input);
        for (unsigned char c : sample)
            hb_set_add(unicodes, c);
        if (hb_face_t* small = hb_subset_or_fail(face, input)) {
            hb_blob_t* out = hb_face_reference_blob(small);
            unsigned length = 0;
            const char* data = hb_blob_get_data(out, &length);
            if (data && length > 0)
                result = std::string(data, length);
            hb_blob_destroy(out);
            hb_face_destroy(small);
        }
        hb_subset_input_destroy(input);
    }
    hb_face_destroy(face);
    return result;
}

}  // namespace

std::vector<SystemFont> SystemFonts::list() {
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config)
        return {};
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_FULLNAME, FC_FAMILY, FC_STYLE, nullptr);
    FcFontSet* set = FcFontList(config, pattern, objects);
    std::map<std::string, SystemFont> byPath;
    for (int i = 0; set && i < set->nfont; ++i) {
        const std::string path = stringOf(set->fonts[i], FC_FILE);
        if (path.empty() || !isSingleFontFile(path) || byPath.count(path))
            continue;
        std::string name = stringOf(set->fonts[i], FC_FULLNAME);
        if (name.empty())
            name = stringOf(set->fonts[i], FC_FAMILY) + " " + stringOf(set->fonts[i], FC_STYLE);
        byPath[path] = {path, name};
    }
    if (set)
        FcFontSetDestroy(set);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    std::vector<SystemFont> fonts;
    for (auto& [path, font] : byPath)
        fonts.push_back(std::move(font));
    return fonts;
}

std::optional<std::string> SystemFonts::smallFont() {
    std::vector<SystemFont> fonts = list();
    // Prefer DejaVu Sans, which every machine set up for this project has.
    std::stable_partition(fonts.begin(), fonts.end(), [](const SystemFont& font) {
        return std::filesystem::path(font.path).filename() == "DejaVuSans.ttf";
    });
    for (const SystemFont& font : fonts) {
        auto bytes = FontFiles::readFile(font.path);
        if (!bytes)
            continue;
        if (auto small = subset(*bytes, "Synthetic 0123456789"))
            return small;
    }
    return std::nullopt;
}

}  // namespace tavo::refservice
