#include "fonts/FontFileName.h"

namespace tavo {

bool isPlainFontFileName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name.front() == '.')
        return false;
    for (const unsigned char c : name)
        if (c < 0x20 || c == 0x7f || c == '/' || c == '*' || c == '?')
            return false;
    return true;
}

}  // namespace tavo
