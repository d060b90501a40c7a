#pragma once

#include <map>
#include <string>

namespace tavo {

// User-visible texts are keys whose key is the default English text. The
// translation comes from the main bundle's Resources/<language>.lproj/
// Localizable.strings; without one the key itself is shown.
std::string localized(const std::string& key);

class Localization {
public:
    // Parses a strings table: "key" = "value"; lines, with \" \\ \n escapes and
    // /* */ or // comments. Malformed entries are skipped.
    static std::map<std::string, std::string> parseStrings(const std::string& text);
    // The table of the bundle's resources for the user's language (LANGUAGE,
    // LC_ALL, LC_MESSAGES, LANG), falling back to English.
    static std::map<std::string, std::string> tableForBundle(const std::string& resourcePath);
};

}  // namespace tavo
