#pragma once

#include <ostream>

namespace tavo::ctl {

// Prints the user configuration, the server configuration and the font list
// as one JSON document. Encrypted values are decrypted and shown masked
// (their first four characters, then "…") unless reveal is set.
int runConfigCommand(std::ostream& out, bool reveal);

}  // namespace tavo::ctl
