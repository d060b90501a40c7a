#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tavo::ctl {

// tavoctl install <installer bundle>: installs TAVO for every user from the
// bundles an installer carries, as the installer does, without windows,
// printing each step; then starts TAVO.
int runInstallCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavo::ctl
