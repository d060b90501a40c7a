#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavo::refservice {

struct SystemFont {
    std::string path;
    std::string displayName;
};

// The fonts installed on the machine, found through fontconfig: the source of
// the demo catalogue and of the synthetic fonts.
class SystemFonts {
public:
    // Single-font files (.ttf, .otf), ordered by path, each once.
    static std::vector<SystemFont> list();
    // A small real font for synthetic copies: an installed font cut down to
    // the few glyphs of its sample text; none when no font is installed.
    static std::optional<std::string> smallFont();
};

}  // namespace tavo::refservice
