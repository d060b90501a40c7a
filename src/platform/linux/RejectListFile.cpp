#include "platform/linux/RejectListFile.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace tavo::platform {

namespace {

// The comment that holds the list: this line, one escaped name per line, "-->".
constexpr std::string_view kListMarker = "<!-- tavo-hidden-files 1\n";
constexpr std::string_view kListEnd = "-->\n";

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t point = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            point = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            point = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            point = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 2 && point < 0x80) || (length == 3 && point < 0x800) ||
                              (length == 4 && point < 0x10000);
        if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// A name on a line of the list comment: "&" as "&amp;", and a "-" that
// follows a "-" as "&#45;", since a comment may not hold "--".
std::string escapeListName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    char previous = 0;
    for (char c : name) {
        if (c == '&')
            out += "&amp;";
        else if (c == '-' && previous == '-')
            out += "&#45;";
        else
            out += c;
        previous = c;
    }
    return out;
}

std::optional<std::string> unescapeListName(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '&') {
            out += line[i];
        } else if (line.substr(i).starts_with("&amp;")) {
            out += '&';
            i += 4;
        } else if (line.substr(i).starts_with("&#45;")) {
            out += '-';
            i += 4;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

void appendGlob(std::string& out, const std::string& glob) {
    out += "      <glob>";
    out += RejectListFile::escapeXml(glob);
    out += "</glob>\n";
}

std::string fileGlob(const std::string& folder, const std::string& name,
                     RejectListFile::GlobStyle style) {
    if (style == RejectListFile::GlobStyle::FolderTail) {
        const std::string folderName = fs::path(folder).filename().string();
        if (!folderName.empty() && folderName.find_first_of("*?") == std::string::npos)
            return "*/" + folderName + "/" + name;
    }
    return folder + "/" + name;
}

}  // namespace

bool RejectListFile::isManageableName(std::string_view name) {
    if (name.empty() || name.front() == '.')
        return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '*' || c == '?' || u < 0x20 || u == 0x7F)
            return false;
    }
    return isValidUtf8(name);
}

std::vector<RejectListFile::Entry> RejectListFile::folderEntries(const std::string& folder) {
    std::vector<Entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.')
            continue;
        std::error_code statError;
        const bool regular = it->is_regular_file(statError);
        const bool nameable = regular && isManageableName(name);
        entries.push_back({std::move(name), nameable});
    }
    return entries;
}

RejectListFile::Form RejectListFile::chooseForm(const std::set<std::string>& hidden,
                                                const std::vector<Entry>& entries) {
    if (hidden.empty())
        return Form::Empty;
    std::size_t visible = 0;
    for (const Entry& entry : entries) {
        if (hidden.contains(entry.name))
            continue;
        if (!entry.nameable)
            return Form::PerFileRejects;
        ++visible;
    }
    if (visible == 0)
        return Form::FolderReject;
    // The folder glob plus one accept per visible file against one reject per hidden name.
    return visible + 1 < hidden.size() ? Form::FolderRejectWithAccepts : Form::PerFileRejects;
}

std::string RejectListFile::render(const std::string& folder, const std::set<std::string>& hidden,
                                   const std::vector<Entry>& entries, GlobStyle style) {
    std::string out =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
        "<!-- Written by TAVO (Oskavelle): the fonts of the service that programs do not see.\n"
        "     TAVO rewrites this file whenever the list changes; edits are lost. -->\n";
    out += kListMarker;
    for (const std::string& name : hidden) {
        out += escapeListName(name);
        out += '\n';
    }
    out += kListEnd;

    const Form form = chooseForm(hidden, entries);
    if (form == Form::Empty)
        return out + "<fontconfig/>\n";
    out += "<fontconfig>\n  <selectfont>\n";
    if (form == Form::FolderRejectWithAccepts) {
        out += "    <acceptfont>\n";
        for (const Entry& entry : entries)
            if (!hidden.contains(entry.name))
                appendGlob(out, fileGlob(folder, entry.name, style));
        out += "    </acceptfont>\n";
    }
    out += "    <rejectfont>\n";
    if (form == Form::PerFileRejects) {
        for (const std::string& name : hidden)
            appendGlob(out, fileGlob(folder, name, style));
    } else {
        appendGlob(out, folder + "/*");
    }
    out += "    </rejectfont>\n  </selectfont>\n</fontconfig>\n";
    return out;
}

std::optional<std::set<std::string>> RejectListFile::parse(std::string_view content) {
    const std::size_t marker = content.find(kListMarker);
    if (marker == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = content.substr(marker + kListMarker.size());
    std::set<std::string> names;
    for (;;) {
        const std::size_t newline = rest.find('\n');
        if (newline == std::string_view::npos)
            return std::nullopt;  // the comment never ends: a cut file
        const std::string_view line = rest.substr(0, newline + 1);
        if (line == kListEnd)
            break;
        std::optional<std::string> name = unescapeListName(line.substr(0, newline));
        if (!name || !isManageableName(*name))
            return std::nullopt;
        names.insert(std::move(*name));
        rest.remove_prefix(newline + 1);
    }
    // Only a whole file counts: a cut one lacks its closing element.
    if (content.find("</fontconfig>") == std::string_view::npos &&
        content.find("<fontconfig/>") == std::string_view::npos)
        return std::nullopt;
    return names;
}

std::string RejectListFile::escapeXml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace tavo::platform
