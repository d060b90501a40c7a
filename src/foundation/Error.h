#pragma once

#include <string>

namespace tavo {

// A failure handed back through an out-parameter: failures are values here,
// never exceptions across module boundaries.
struct Error {
    long code = 0;
    std::string domain;
    std::string description;

    static Error posix(int err, const std::string& what);  // errno and a context
    // "Error Domain=<domain> Code=<code> \"<description>\"", as log lines show errors.
    std::string text() const;
};

}  // namespace tavo
