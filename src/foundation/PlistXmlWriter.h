#pragma once

#include <string>
#include <string_view>

#include "foundation/PlistValue.h"

namespace tavo {

// Writes property lists as XML text, laid out as libplist lays them out
// (tab indentation, the same escapes, reals with 17 digits), straight from
// the values: no intermediate tree. Large lists are written this way on
// every change, so the cost matters.
class PlistXmlWriter {
public:
    static constexpr std::string_view kHeader =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    static constexpr std::string_view kFooter = "</plist>\n";

    // A whole document holding value.
    static std::string document(const PlistValue& value);

    // The lines of one value, or of a dictionary's key, at depth tabs.
    static void appendValue(std::string& out, const PlistValue& value, int depth);
    static void appendKey(std::string& out, std::string_view key, int depth);
};

}  // namespace tavo
