#pragma once

#include <string>

namespace tavo {

// Whether a file name from the server can name a file inside the user's font
// folder: a plain name, not empty, at most 255 bytes, without "/", without a
// leading "." (so neither "." nor ".." nor a hidden file), without control
// characters and without the glob characters "*" and "?" (the font manager
// lists hidden fonts as patterns).
bool isPlainFontFileName(const std::string& name);

}  // namespace tavo
