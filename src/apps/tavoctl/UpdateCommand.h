#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tavo {
class ApiClient;
class ProgramController;
}  // namespace tavo

namespace tavo::ctl {

// `tavoctl update`: the self-update for a user or a machine without a tray.
//   (no option)  the specified, offered and downloaded versions, and whether
//                the update is forced
//   --check      the check for the next version and its download, with a
//                progress bar
//   --apply      applies the downloaded update in the foreground with the
//                same administrator prompt, starts the new version and asks
//                the running TAVO of this version to end
// Exit status: 0 done, 1 failed, 2 wrong arguments, not signed in, nothing
// to apply or not an administrator.
int runUpdateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The same with a client configured by the caller and its controller; from
// the main thread, whose queue it drives while the command runs.
int runUpdateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     ApiClient& client, const std::shared_ptr<ProgramController>& controller);

}  // namespace tavo::ctl
