#include "FontsCommand.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "fontid/FontIdReader.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "platform/FontManager.h"
#include "platform/linux/FontconfigFontManager.h"

namespace tavo::ctl {

namespace {

struct Row {
    std::string id, displayName, fileName, status;
    bool active = false;
    std::string visibility;
};

std::string text(const PlistDict& record, const char* key) {
    const auto* value = plistGet<std::string>(record, key);
    return value ? *value : std::string();
}

std::string visibilityOf(const std::string& folder, const std::string& fileName,
                         platform::FontManager* manager) {
    const std::string path = folder + "/" + fileName;
    if (fileName.empty() || folder.empty() || !FileUtil::exists(path))
        return "missing";
    if (!manager)
        return "unknown";
    return manager->scopeForFile(path) == platform::FontManagerScope::None ? "hidden" : "visible";
}

bool isNumber(const std::string& s) {
    return !s.empty() && s.size() < 19 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Font ids in numeric order; other keys after them.
bool idLess(const std::string& a, const std::string& b) {
    const bool na = isNumber(a), nb = isNumber(b);
    if (na != nb)
        return na;
    if (na && std::stoll(a) != std::stoll(b))
        return std::stoll(a) < std::stoll(b);
    return a < b;
}

// Columns a UTF-8 text takes on a terminal: East Asian wide characters take
// two, combining marks none.
std::size_t displayWidth(const std::string& s) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char lead = static_cast<unsigned char>(s[i]);
        const int length = lead < 0x80         ? 1
                           : (lead >> 5) == 6  ? 2
                           : (lead >> 4) == 14 ? 3
                           : (lead >> 3) == 30 ? 4
                                               : 1;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length && i + k < s.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += length;
        if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) ||
            (c >= 0xFE00 && c <= 0xFE0F))
            continue;
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
                          (c >= 0x3041 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                          (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                          (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) ||
                          (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

// Names come from the server: control characters (a terminal's escape
// sequences among them) are shown as "?".
std::string printable(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return s;
}

void printTable(const std::vector<Row>& rows, std::ostream& out) {
    const std::vector<std::string> heading = {"ID",     "NAME",   "FILE",
                                              "STATUS", "ACTIVE", "FONTCONFIG"};
    std::vector<std::vector<std::string>> cells = {heading};
    for (const auto& row : rows)
        cells.push_back({printable(row.id), printable(row.displayName), printable(row.fileName),
                         printable(row.status), row.active ? "yes" : "no", row.visibility});
    std::vector<std::size_t> widths(heading.size(), 0);
    for (const auto& line : cells)
        for (std::size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(line[c]));
    for (const auto& line : cells) {
        std::string text;
        for (std::size_t c = 0; c < line.size(); ++c) {
            text += line[c];
            if (c + 1 < line.size())
                text += std::string(widths[c] - displayWidth(line[c]) + 2, ' ');
        }
        out << text << "\n";
    }
}

}  // namespace

int runFontsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    platform::FontManager* fontManager) {
    const bool json = args.size() == 1 && args[0] == "--json";
    if (!args.empty() && !json) {
        err << "usage: tavoctl fonts [--json]\n";
        return 2;
    }
    const auto list = Config::fontList();
    if (!list) {
        err << "tavoctl fonts: no font list: fonts were never synchronized for this user, or "
               "the list cannot be read ("
            << Config::fontListPath().value_or("no home folder") << ")\n";
        return 2;
    }
    const std::string folder = Const::userFontDirectoryPath().value_or("");
    std::vector<Row> rows;
    for (const auto& [key, value] : *list) {
        const PlistDict* record = value.get<PlistDict>();
        const PlistDict empty;
        const PlistDict& r = record ? *record : empty;
        const bool* active = plistGet<bool>(r, kFontActivate);
        Row row;
        row.id = key;
        row.displayName = text(r, kFontDisplayFontName);
        row.fileName = text(r, kFontFileName);
        row.status = text(r, kFontStatusType);
        row.active = active && *active;
        row.visibility = visibilityOf(folder, row.fileName, fontManager);
        rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end(),
              [](const Row& a, const Row& b) { return idLess(a.id, b.id); });

    if (json) {
        nlohmann::json array = nlohmann::json::array();
        for (const auto& row : rows)
            array.push_back({{"id", row.id},
                             {"displayName", row.displayName},
                             {"fileName", row.fileName},
                             {"status", row.status},
                             {"active", row.active},
                             {"visibility", row.visibility}});
        out << array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return 0;
    }
    if (rows.empty()) {
        out << "The font list holds no fonts.\n";
        return 0;
    }
    printTable(rows, out);
    return 0;
}

int runFontsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    // Usage errors and a missing list need no fontconfig.
    const bool usable = args.empty() || (args.size() == 1 && args[0] == "--json");
    if (!usable || !Config::fontList())
        return runFontsCommand(args, out, err, nullptr);
    const auto manager = platform::FontconfigFontManager::create(
        [](const std::string& path) { return fontid::FontIdReader::read(path).has_value(); });
    return runFontsCommand(args, out, err, manager.get());
}

}  // namespace tavo::ctl
