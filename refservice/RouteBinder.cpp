#include "refservice/RouteBinder.h"

#include <algorithm>

#include "refservice/Envelope.h"
#include "refservice/Http.h"
#include "refservice/ServiceContext.h"

namespace tavo::refservice {

RouteBinder::RouteBinder(httplib::Server& server, std::shared_ptr<ServiceContext> context)
    : server_(server), context_(std::move(context)) {}

void RouteBinder::applyResponseFault(const FaultRule& fault, httplib::Response& res) {
    std::string contentType = res.get_header_value("Content-Type");
    if (!fault.contentType.empty()) {
        res.headers.erase("Content-Type");
        contentType = fault.contentType;
        res.set_header("Content-Type", contentType);
    }
    const long cut = fault.drop ? 0 : fault.cutAfterBytes;
    if (cut < 0)
        return;
    auto body = std::make_shared<std::string>(std::move(res.body));
    res.body.clear();
    const std::size_t limit = std::min<std::size_t>(static_cast<std::size_t>(cut), body->size());
    res.set_content_provider(
        body->size(), contentType,
        [body, limit](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset < limit)
                sink.write(body->data() + offset, limit - offset);
            return false;  // the connection closes short of the promised length
        });
}

RouteBinder::Handler RouteBinder::withFaults(Handler handler) const {
    return [context = context_, handler = std::move(handler)](const httplib::Request& req,
                                                              httplib::Response& res) {
        context->requests.record("api", req);
        const auto fault = context->faults.take(req.method, req.path);
        if (fault && fault->delayMs > 0 &&
            !context->pause(std::chrono::milliseconds(fault->delayMs))) {
            Envelope::write(res, Outcome::failure(kInternalServerError, "the service is stopping"));
            return;
        }
        if (fault && fault->status != 0) {
            res.status = fault->status;
            if (fault->emptyBody)
                res.set_content("", "application/json");
            else if (fault->body.empty())
                res.set_content(
                    Envelope::text(Outcome::failure(kInternalServerError, "injected fault")),
                    "application/json");
            else
                res.set_content(FaultInjector::expandBody(fault->body,
                                                          [&req](const std::string& name) {
                                                              return req.get_param_value(name);
                                                          }),
                                "application/json");
        } else {
            handler(req, res);
        }
        if (fault)
            applyResponseFault(*fault, res);
    };
}

RouteBinder::AuthorisedHandler RouteBinder::envelope(AuthorisedAnswer answer) const {
    return [answer = std::move(answer)](const httplib::Request& req, httplib::Response& res,
                                        const Caller& caller) {
        Envelope::write(res, answer(req, caller));
    };
}

RouteBinder::Handler RouteBinder::authorised(AuthorisedHandler handler, bool deviceEndpoint) const {
    return [context = context_, handler = std::move(handler), deviceEndpoint](
               const httplib::Request& req, httplib::Response& res) {
        Outcome refusal;
        const auto caller = context->auth.authorise(req.get_header_value("X-TAVO-DEVICEID"),
                                                    req.get_header_value("Authorization"),
                                                    deviceEndpoint, &refusal);
        if (!caller) {
            Envelope::write(res, refusal);
            return;
        }
        handler(req, res, *caller);
    };
}

void RouteBinder::get(const std::string& pattern, Handler handler) {
    server_.Get(pattern, withFaults(std::move(handler)));
}

void RouteBinder::post(const std::string& pattern, Handler handler) {
    server_.Post(pattern, withFaults(std::move(handler)));
}

void RouteBinder::getOpen(const std::string& pattern, Answer answer) {
    get(pattern, [answer = std::move(answer)](const httplib::Request& req, httplib::Response& res) {
        Envelope::write(res, answer(req));
    });
}

void RouteBinder::postOpen(const std::string& pattern, Answer answer) {
    post(pattern,
         [answer = std::move(answer)](const httplib::Request& req, httplib::Response& res) {
             Envelope::write(res, answer(req));
         });
}

void RouteBinder::getAuthorised(const std::string& pattern, AuthorisedAnswer answer,
                                bool deviceEndpoint) {
    get(pattern, authorised(envelope(std::move(answer)), deviceEndpoint));
}

void RouteBinder::postAuthorised(const std::string& pattern, AuthorisedAnswer answer,
                                 bool deviceEndpoint) {
    post(pattern, authorised(envelope(std::move(answer)), deviceEndpoint));
}

void RouteBinder::getAuthorisedRaw(const std::string& pattern, AuthorisedHandler handler) {
    get(pattern, authorised(std::move(handler), false));
}

}  // namespace tavo::refservice
