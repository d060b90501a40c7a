#pragma once

#include <functional>
#include <memory>
#include <string>

#include "refservice/AuthDesk.h"
#include "refservice/Outcome.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace tavo::refservice {

class ServiceContext;
struct FaultRule;

// Registers the API's routes on a listener. Every route consults the fault
// injector (delay, status, wrong content type, cut body, dropped connection);
// authorised routes check the device id and the bearer token first.
class RouteBinder {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    using Answer = std::function<Outcome(const httplib::Request&)>;
    using AuthorisedAnswer = std::function<Outcome(const httplib::Request&, const Caller&)>;
    using AuthorisedHandler =
        std::function<void(const httplib::Request&, httplib::Response&, const Caller&)>;

    RouteBinder(httplib::Server& server, std::shared_ptr<ServiceContext> context);

    void get(const std::string& pattern, Handler handler);
    void post(const std::string& pattern, Handler handler);
    // Envelope answers.
    void getOpen(const std::string& pattern, Answer answer);
    void postOpen(const std::string& pattern, Answer answer);
    void getAuthorised(const std::string& pattern, AuthorisedAnswer answer,
                       bool deviceEndpoint = false);
    void postAuthorised(const std::string& pattern, AuthorisedAnswer answer,
                        bool deviceEndpoint = false);
    // Authorised, answering something other than an envelope on success.
    void getAuthorisedRaw(const std::string& pattern, AuthorisedHandler handler);

    // Applies a fault's effect on an answer already made.
    static void applyResponseFault(const FaultRule& fault, httplib::Response& res);

private:
    Handler withFaults(Handler handler) const;
    AuthorisedHandler envelope(AuthorisedAnswer answer) const;
    Handler authorised(AuthorisedHandler handler, bool deviceEndpoint) const;

    httplib::Server& server_;
    std::shared_ptr<ServiceContext> context_;
};

}  // namespace tavo::refservice
