#include "foundation/Localization.h"

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "foundation/FileUtil.h"
#include "platform/Bundle.h"

namespace tavo {

namespace {

void skipSpaceAndComments(const std::string& text, size_t& i) {
    while (i < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        } else if (text.compare(i, 2, "/*") == 0) {
            const size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? text.size() : end + 2;
        } else if (text.compare(i, 2, "//") == 0) {
            const size_t end = text.find('\n', i);
            i = end == std::string::npos ? text.size() : end + 1;
        } else {
            break;
        }
    }
}

bool readQuoted(const std::string& text, size_t& i, std::string& out) {
    if (i >= text.size() || text[i] != '"')
        return false;
    out.clear();
    for (++i; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c == '\\' && i + 1 < text.size()) {
            c = text[++i];
            if (c == 'n')
                c = '\n';
            else if (c == 't')
                c = '\t';
        }
        out += c;
    }
    return false;
}

std::vector<std::string> preferredLanguages() {
    std::vector<std::string> languages;
    for (const char* var : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (!value || !*value)
            continue;
        std::string lang(value);
        lang = lang.substr(0, lang.find_first_of(":_.@"));
        if (!lang.empty() && lang != "C" && lang != "POSIX")
            languages.push_back(lang);
        break;
    }
    languages.push_back("en");
    languages.push_back("Base");
    return languages;
}

}  // namespace

std::map<std::string, std::string> Localization::parseStrings(const std::string& text) {
    std::map<std::string, std::string> table;
    size_t i = 0;
    std::string key, value;
    while (i < text.size()) {
        skipSpaceAndComments(text, i);
        if (i >= text.size())
            break;
        bool ok = readQuoted(text, i, key);
        if (ok) {
            skipSpaceAndComments(text, i);
            ok = i < text.size() && text[i] == '=';
            ++i;
        }
        if (ok) {
            skipSpaceAndComments(text, i);
            ok = readQuoted(text, i, value);
        }
        if (ok) {
            skipSpaceAndComments(text, i);
            ok = i < text.size() && text[i] == ';';
        }
        if (ok)
            table[key] = value;
        // Resume after the next semicolon, whatever went wrong.
        const size_t end = text.find(';', i);
        i = end == std::string::npos ? text.size() : end + 1;
    }
    return table;
}

std::map<std::string, std::string> Localization::tableForBundle(const std::string& resourcePath) {
    for (const std::string& lang : preferredLanguages()) {
        const auto text =
            FileUtil::readFile(resourcePath + "/" + lang + ".lproj/Localizable.strings");
        if (text)
            return parseStrings(*text);
    }
    return {};
}

std::string localized(const std::string& key) {
    static std::mutex mutex;
    static std::string loadedFor;
    static std::map<std::string, std::string> table;
    const std::string resources = platform::Bundle::mainBundle()->resourcePath();
    std::lock_guard lock(mutex);
    if (loadedFor != resources) {
        table = Localization::tableForBundle(resources);
        loadedFor = resources;
    }
    const auto it = table.find(key);
    return it != table.end() ? it->second : key;
}

}  // namespace tavo
