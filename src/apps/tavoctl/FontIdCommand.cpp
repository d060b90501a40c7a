#include "apps/tavoctl/FontIdCommand.h"

#include <cstdio>

#include "fontid/FontFile.h"
#include "fontid/FontIdReader.h"

namespace tavo {

namespace {

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

int runFontIdCommand(const std::vector<std::string>& files, std::ostream& out) {
    if (files.empty()) {
        out << "usage: tavoctl fontid FILE...\n";
        return 2;
    }
    int status = 0;
    for (const std::string& file : files) {
        const std::optional<std::string> bytes = fontid::FontFile::read(file);
        if (!bytes)
            status = 1;
        const std::optional<fontid::FontRecord> record =
            bytes ? fontid::FontIdReader::readData(*bytes) : std::nullopt;
        if (record) {
            out << printable(file) << ": service font, fontId " << printable(record->fontId)
                << ", version " << printable(record->version) << '\n';
        } else {
            out << printable(file) << ": not a service font\n";
        }
    }
    return status;
}

}  // namespace tavo
