#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tavo::ctl {

// tavoctl uninstall: removes TAVO from the machine for every user, as the
// uninstaller does, without windows, printing each step.
int runUninstallCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavo::ctl
