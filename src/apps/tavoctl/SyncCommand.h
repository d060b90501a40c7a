#pragma once

#include <functional>
#include <memory>
#include <ostream>

namespace tavo {
class ApiClient;
namespace platform {
class FontManager;
}
}  // namespace tavo

namespace tavo::ctl {

struct SyncOptions {
    // Draw a progress bar redrawn in place ("\r"); otherwise one line about
    // every tenth of the downloads and one at the end.
    bool terminal = false;
    // Polled while the run goes on; once it holds, the chain is stopped after
    // the download in flight and the command ends.
    std::function<bool()> interrupted;
};

// `tavoctl sync`: one font synchronization with its download chain, in the
// foreground, as the resident application runs it: the account's font list
// is fetched, the local list updated, fonts activated and deactivated, and
// the fonts marked "downloading" fetched one after the other into the user's
// font folder. Shows the progress on out and a summary at the end.
//
// The program's entry sets up the default client from the signed-in user's
// configuration, makes the fontconfig font manager the program's, and stops
// on SIGINT or SIGTERM. Exit status: 0 when the synchronization completed,
// 1 when it failed, gave up a download, was interrupted or the server could
// not be reached, 2 without a signed-in user.
int runSyncCommand(std::ostream& out, std::ostream& err);
// The same with a client set up by the caller (configureClientFromUserConfig)
// and a font manager of the caller's; from the main thread, whose queue it
// drives until the run is over. The client gets a serial queue of its own
// for the run; after an interruption its download flag stays set, so the
// stopped chain starts nothing more.
int runSyncCommand(std::ostream& out, std::ostream& err, ApiClient& client,
                   std::shared_ptr<platform::FontManager> fontManager, const SyncOptions& options);

}  // namespace tavo::ctl
