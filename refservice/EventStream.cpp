#include "refservice/EventStream.h"

#include <algorithm>

#include "refservice/Envelope.h"
#include "refservice/Http.h"
#include "refservice/Params.h"
#include "refservice/ServiceContext.h"

namespace tavo::refservice {

namespace {

// One open stream. The content provider runs on the connection's worker
// thread; it owns the session through shared ownership.
struct Session {
    std::shared_ptr<ServiceContext> context;
    std::string mailAddress;
    long cursor = 0;      // id of the last event considered
    long generation = 0;  // the drop generation this stream has seen
    long cutRemaining = -1;
    bool greeted = false;
};

std::string eventText(const Event& event) {
    return "id: " + std::to_string(event.id) + "\nevent: " + event.name +
           "\ndata: " + event.data.dump() + "\n\n";
}

// Sends text, honouring an injected cut; false when the stream must end.
bool send(Session& session, httplib::DataSink& sink, const std::string& text) {
    if (session.cutRemaining < 0)
        return sink.write(text.data(), text.size());
    const std::size_t allowed =
        std::min<std::size_t>(text.size(), static_cast<std::size_t>(session.cutRemaining));
    if (allowed > 0)
        sink.write(text.data(), allowed);
    session.cutRemaining -= static_cast<long>(allowed);
    return allowed == text.size() && session.cutRemaining > 0;
}

enum class Next { Events, KeepAlive, EndClean, EndAbrupt };

// Waits for something to send; collects the session's new events.
Next waitForEvents(Session& session, std::string* text) {
    ServiceState& state = *session.context->state;
    std::unique_lock lock(state.mutex);
    auto ready = [&] {
        return state.stopping || state.streamGeneration != session.generation ||
               state.lastEventId > session.cursor;
    };
    // Other accounts' events wake this stream too; the keep-alive still comes
    // at the interval.
    const auto deadline = std::chrono::steady_clock::now() + session.context->keepAliveInterval;
    for (;;) {
        if (!state.changed.wait_until(lock, deadline, ready))
            return Next::KeepAlive;
        if (state.stopping)
            return Next::EndClean;
        if (state.streamGeneration != session.generation) {
            session.generation = state.streamGeneration;
            if (state.streamDropAccount.empty() || state.streamDropAccount == session.mailAddress)
                return state.streamDropClean ? Next::EndClean : Next::EndAbrupt;
        }
        auto it = std::upper_bound(state.events.begin(), state.events.end(), session.cursor,
                                   [](long id, const Event& event) { return id < event.id; });
        for (; it != state.events.end(); ++it) {
            if (it->mailAddress == session.mailAddress)
                *text += eventText(*it);
        }
        session.cursor = state.lastEventId;
        if (!text->empty())
            return Next::Events;
    }
}

bool provide(const std::shared_ptr<Session>& session, httplib::DataSink& sink) {
    if (!session->greeted) {
        session->greeted = true;
        return send(*session, sink, ": connected\n\n");
    }
    std::string text;
    switch (waitForEvents(*session, &text)) {
        case Next::EndClean:
            sink.done();
            return true;
        case Next::EndAbrupt:
            return false;
        case Next::KeepAlive:
            return send(*session, sink, ": keep-alive\n\n");
        case Next::Events:
            break;
    }
    return send(*session, sink, text);
}

}  // namespace

void EventStream::install(httplib::Server& server, const std::shared_ptr<ServiceContext>& context) {
    server.Get("/notifications", [context](const httplib::Request& req, httplib::Response& res) {
        context->requests.record("sse", req);
        context->requests.echoLine("sse " + req.remote_addr + " GET /notifications (opening)");
        const auto fault = context->faults.take(req.method, req.path);
        if (fault && fault->delayMs > 0 &&
            !context->pause(std::chrono::milliseconds(fault->delayMs)))
            return;
        if (fault && fault->status != 0) {
            res.status = fault->status;
            res.set_content(fault->body.empty() ? Envelope::text(Outcome::failure(
                                                      kInternalServerError, "injected fault"))
                                                : fault->body,
                            fault->contentType.empty() ? "application/json" : fault->contentType);
            return;
        }
        Outcome refusal;
        const auto caller =
            context->auth.authorise(req.get_header_value("X-TAVO-DEVICEID"),
                                    req.get_header_value("Authorization"), false, &refusal);
        if (!caller) {
            Envelope::write(res, refusal);
            return;
        }
        auto session = std::make_shared<Session>();
        session->context = context;
        session->mailAddress = caller->mailAddress;
        if (fault)
            session->cutRemaining = fault->drop ? 0 : fault->cutAfterBytes;
        const auto lastEventId = Params::integer(req.get_header_value("Last-Event-ID"));
        {
            std::lock_guard lock(context->state->mutex);
            // An id beyond the newest comes from an earlier run of the service:
            // resume with what is new from now on.
            const long newest = context->state->lastEventId;
            session->cursor = lastEventId && *lastEventId <= newest ? *lastEventId : newest;
            session->generation = context->state->streamGeneration;
        }
        ++context->openStreams;
        res.set_header("Cache-Control", "no-cache");
        res.set_chunked_content_provider(
            fault && !fault->contentType.empty() ? fault->contentType : "text/event-stream",
            [session](std::size_t, httplib::DataSink& sink) { return provide(session, sink); },
            [context](bool) { --context->openStreams; });
    });
}

}  // namespace tavo::refservice
