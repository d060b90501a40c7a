#pragma once

#include <memory>

namespace httplib {
class Server;
}

namespace tavo::refservice {

class ServiceContext;

// GET /notifications on the notification listener: the account's events in
// the server-sent-events format ("id", "event", "data" lines, a blank line
// after each event), a keep-alive comment whenever nothing was sent for the
// keep-alive interval, and, with "Last-Event-ID", every event after that id
// first. Authorised like the API (device id and bearer token).
class EventStream {
public:
    static void install(httplib::Server& server, const std::shared_ptr<ServiceContext>& context);
};

}  // namespace tavo::refservice
