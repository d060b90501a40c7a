#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "fontid/FontRecord.h"

namespace tavo::fontid {

// Writes the service's record into a font (the reference service and tests
// use it) with HarfBuzz's face builder: the font's tables are kept, a `meta`
// table with the 'OSKV' data map is added or its record replaced (other data
// maps stay), a digital signature ('DSIG', no longer valid) is dropped and
// head.checkSumAdjustment is set anew. None when the input is not a single
// font: collections are refused, since stamping one face would lose the rest.
// stampFile writes the output atomically (it may be the input).
class FontStamper {
public:
    static std::optional<std::string> stamp(std::string_view fontBytes, const FontRecord& record);
    static bool stampFile(const std::string& inputPath, const std::string& outputPath,
                          const FontRecord& record);
};

}  // namespace tavo::fontid
