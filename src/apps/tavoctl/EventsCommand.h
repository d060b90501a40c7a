#pragma once

#include <functional>
#include <ostream>

namespace tavo {
class ApiClient;
}

namespace tavo::ctl {

// `tavoctl events`: opens the notification stream with the stored
// credentials and the stored last event id, and prints each event (id, name,
// data) as it arrives until SIGINT or SIGTERM. A stream the server ends is
// opened again after 5 seconds from the last event printed; the stored last
// event id is left as it is, so the application still receives every event.
// Exit status: 0 when interrupted, 1 without a signed-in user or when the
// server refuses the stream.
int runEventsCommand(std::ostream& out);
// The same with a client of the caller's, until interrupted() holds.
int runEventsCommand(std::ostream& out, ApiClient& client,
                     const std::function<bool()>& interrupted);

}  // namespace tavo::ctl
