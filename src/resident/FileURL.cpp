#include "resident/FileURL.h"

#include <cctype>
#include <string_view>

namespace tavo {

namespace {

bool isPlainURLByte(unsigned char c) {
    return std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~' ||
           c == '!' || c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' ||
           c == '+' || c == ',' || c == ';' || c == '=' || c == ':' || c == '@';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string fileURLFromPath(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const unsigned char c : path) {
        if (isPlainURLByte(c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 0xF];
        }
    }
    return url;
}

std::string pathFromFileURL(const std::string& url) {
    static constexpr std::string_view kScheme = "file://";
    if (url.compare(0, kScheme.size(), kScheme) != 0)
        return {};
    std::string_view rest(url);
    rest.remove_prefix(kScheme.size());
    if (rest.rfind("localhost/", 0) == 0)
        rest.remove_prefix(std::string_view("localhost").size());
    if (rest.empty() || rest.front() != '/')
        return {};  // a file on another host
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size()) {
            const int high = hexValue(rest[i + 1]);
            const int low = hexValue(rest[i + 2]);
            if (high >= 0 && low >= 0) {
                path += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        path += rest[i];
    }
    return path;
}

Notification fontsAddedNotification(const std::vector<std::string>& paths) {
    std::vector<std::string> urls;
    urls.reserve(paths.size());
    for (const auto& path : paths)
        urls.push_back(fileURLFromPath(path));
    return {"", {{kFontManagerAvailableFontURLsAdded, urls}}};
}

}  // namespace tavo
