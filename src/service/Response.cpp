#include "service/Response.h"

#include <algorithm>
#include <cctype>

namespace tavo {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\"");
    const auto end = text.find_last_not_of(" \t\"");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// The last path component, without query or fragment.
std::string lastPathComponent(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const auto scheme = path.find("://");
    if (scheme != std::string::npos) {
        const auto slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? std::string() : path.substr(slash);
    }
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string HttpUrlResponse::header(const std::string& name) const {
    const auto it = headers.find(lower(name));
    return it == headers.end() ? std::string() : it->second;
}

std::string HttpUrlResponse::mimeType() const {
    return lower(trim(header("content-type").substr(0, header("content-type").find(';'))));
}

std::string HttpUrlResponse::suggestedFilename() const {
    const std::string disposition = header("content-disposition");
    const auto at = lower(disposition).find("filename=");
    std::string name = at == std::string::npos
                           ? lastPathComponent(url)
                           : trim(disposition.substr(at + 9, disposition.find(';', at) - at - 9));
    // Only the last component of whatever the server suggests.
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return "Unknown";
    return name;
}

}  // namespace tavo
