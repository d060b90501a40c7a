#include "foundation/Error.h"

#include <cstring>

namespace tavo {

Error Error::posix(int err, const std::string& what) {
    return Error{err, "NSPOSIXErrorDomain", what.empty() ? std::strerror(err) : what + ": " + std::strerror(err)};
}

std::string Error::text() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + description + "\"";
}

}  // namespace tavo
