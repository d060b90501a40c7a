#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tavo::platform {
class FontManager;
}

namespace tavo::ctl {

// `tavoctl fonts [--json]`: the local font list, one row per record: font id,
// display name, file, status, whether it is to be active, and whether
// programs see the file ("visible"), it is hidden from them ("hidden"), or it
// is not in the user's font folder ("missing"). Aligned columns, or a JSON
// array with --json. Exit status: 0, or 2 without a font list or for a usage
// error.
int runFontsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The same with a font manager of the caller's; without one the visibility
// of a file that is there is "unknown".
int runFontsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    platform::FontManager* fontManager);

}  // namespace tavo::ctl
