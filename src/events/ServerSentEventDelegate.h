#pragma once

#include <memory>
#include <optional>

#include "events/SSEEvents.h"
#include "foundation/Error.h"

namespace tavo {

class ServerSentEvent;

// What a stream tells its delegate, on the stream's operation queue. Every
// operation is optional: the defaults do nothing.
class ServerSentEventDelegate {
public:
    virtual ~ServerSentEventDelegate() = default;

    // The server answered 200: the stream is open.
    virtual void serverSentEventDidOpen(const std::shared_ptr<ServerSentEvent>&) {}
    // didReceiveEvent: one event, in the order the server sent them.
    virtual void serverSentEvent(const std::shared_ptr<ServerSentEvent>&, const SSEEvents&) {}
    // didFailWithError: the stream ended other than by our close; the error
    // is none when the server ended it cleanly or answered other than 200.
    virtual void serverSentEvent(const std::shared_ptr<ServerSentEvent>&,
                                 const std::optional<Error>&) {}
    // The stream ended after our close.
    virtual void serverSentEventDidClose(const std::shared_ptr<ServerSentEvent>&) {}
};

}  // namespace tavo
