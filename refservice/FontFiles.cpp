#include "refservice/FontFiles.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fontid/FontIdReader.h"
#include "fontid/FontStamper.h"

namespace fs = std::filesystem;

namespace tavo::refservice {

namespace {

std::string safeName(const std::string& text) {
    std::string name;
    for (char c : text)
        name += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
    return name;
}

bool writeFile(const std::string& path, std::string_view bytes) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    return !ec;
}

}  // namespace

FontFiles::FontFiles(std::string dataDir) : dataDir_(std::move(dataDir)) {}

std::string FontFiles::cachePath(const CatalogueFont& font) const {
    const std::string extension = fs::path(font.fileName).extension().string();
    return (fs::path(dataDir_) / "fonts" /
            (safeName(font.fontId) + "-" + safeName(font.version) + safeName(extension)))
        .string();
}

std::optional<CatalogueFont> FontFiles::make(CatalogueFont font, std::string_view source) const {
    const fontid::FontRecord record{font.fontId, font.version};
    if (!dataDir_.empty()) {
        const std::string path = cachePath(font);
        if (auto cached = readFile(path);
            cached && fontid::FontIdReader::readData(*cached) == record) {
            font.filePath = path;
            font.file.reset();
            font.fileSize = static_cast<std::int64_t>(cached->size());
            return font;
        }
    }
    auto stamped = fontid::FontStamper::stamp(source, record);
    if (!stamped)
        return std::nullopt;
    font.fileSize = static_cast<std::int64_t>(stamped->size());
    if (!dataDir_.empty()) {
        const std::string path = cachePath(font);
        std::error_code ec;
        fs::create_directories(fs::path(path).parent_path(), ec);
        if (writeFile(path, *stamped)) {
            font.filePath = path;
            font.file.reset();
            return font;
        }
    }
    font.filePath.clear();
    font.file = std::make_shared<const std::string>(std::move(*stamped));
    return font;
}

std::optional<CatalogueFont> FontFiles::makeFromFile(CatalogueFont font,
                                                     const std::string& path) const {
    auto source = readFile(path);
    if (!source)
        return std::nullopt;
    return make(std::move(font), *source);
}

std::optional<std::string> FontFiles::bytes(const std::shared_ptr<const std::string>& file,
                                            const std::string& filePath) {
    if (file)
        return *file;
    return readFile(filePath);
}

std::optional<std::string> FontFiles::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return content.str();
}

}  // namespace tavo::refservice
