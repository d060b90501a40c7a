#pragma once

#include <ostream>

namespace tavo::ctl {

// Prints every place of the current layout, one "name: value" line each.
int runPathsCommand(std::ostream& out);

}  // namespace tavo::ctl
