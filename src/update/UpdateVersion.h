#pragma once

#include <string>

namespace tavo {

// Versions as the server names them. They become parts of folder and file
// names, so only plain names are taken: letters, digits, ".", "-", "_" and
// "+", at most 64 of them, neither "." nor ".." nor anything with "..".
class UpdateVersion {
public:
    static bool isPlain(const std::string& version);
};

}  // namespace tavo
