#include "refservice/RefService.h"

#include <filesystem>

#include "refservice/AccountRoutes.h"
#include "refservice/AdminControlRoutes.h"
#include "refservice/AdminRoutes.h"
#include "refservice/AuthRoutes.h"
#include "refservice/ClientAppRoutes.h"
#include "refservice/DemoSeed.h"
#include "refservice/Envelope.h"
#include "refservice/EventStream.h"
#include "refservice/FontRoutes.h"
#include "refservice/Http.h"
#include "refservice/RouteBinder.h"
#include "refservice/Seed.h"
#include "refservice/ServiceContext.h"

namespace tavo::refservice {

namespace {

// Every request body the service takes is small JSON.
constexpr std::size_t kMaximumBody = 1024 * 1024;

bool bindListener(httplib::Server& server, const std::string& host, int* port) {
    if (*port == 0) {
        *port = server.bind_to_any_port(host);
        return *port > 0;
    }
    return server.bind_to_port(host, *port);
}

// Runs the accept loop and waits until it is accepting, so that a stop()
// right after start() cannot miss it.
std::thread runListener(httplib::Server& server) {
    std::thread thread([&server] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return thread;
}

}  // namespace

RefService::RefService() = default;

RefService::~RefService() {
    stop();
}

std::string RefService::url(int port) const {
    const std::string host = host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
    return scheme_ + "://" + host + ":" + std::to_string(port);
}

std::string RefService::apiUrl() const {
    return url(apiPort_);
}

std::string RefService::sseUrl() const {
    return url(ssePort_);
}

bool RefService::loadSeed(const ServiceOptions& options, std::string* error) {
    nlohmann::json seed = nlohmann::json::object();
    std::string baseDir;
    if (options.seed) {
        seed = *options.seed;
    } else if (!options.seedFile.empty()) {
        if (!Seed::readFile(options.seedFile, &seed, error))
            return false;
        baseDir = std::filesystem::path(options.seedFile).parent_path().string();
    } else if (options.demo) {
        seed = DemoSeed::seed();
    }
    if (options.syntheticFonts > 0 && seed.is_object() && !seed.contains("syntheticFonts"))
        seed["syntheticFonts"] = options.syntheticFonts;
    ServiceState& state = *context_->state;
    std::lock_guard lock(state.mutex);
    return Seed::apply(seed, state, context_->files, baseDir, error);
}

std::unique_ptr<httplib::Server> RefService::makeServer(const ServiceOptions& options,
                                                        const std::string& listener,
                                                        std::string* error) {
    std::unique_ptr<httplib::Server> server;
    if (!options.tlsCert.empty() || !options.tlsKey.empty()) {
        server =
            std::make_unique<httplib::SSLServer>(options.tlsCert.c_str(), options.tlsKey.c_str());
        if (!server->is_valid()) {
            *error = "cannot use the certificate " + options.tlsCert + " and key " + options.tlsKey;
            return nullptr;
        }
    } else {
        server = std::make_unique<httplib::Server>();
    }
    const std::size_t threads = static_cast<std::size_t>(std::max(4, options.threadsPerListener));
    server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server->set_tcp_nodelay(true);
    server->set_keep_alive_timeout(options.connectionKeepAliveSeconds);
    server->set_keep_alive_max_count(1000);
    server->set_payload_max_length(kMaximumBody);
    auto context = context_;
    server->set_logger(
        [context, listener](const httplib::Request& req, const httplib::Response& res) {
            context->requests.echo(listener, req, res);
        });
    server->set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            Envelope::write(res, Outcome::failure(kInternalServerError, "internal server error"));
        });
    return server;
}

bool RefService::start(const ServiceOptions& options, std::string* error) {
    stop();
    context_ = std::make_shared<ServiceContext>(std::make_shared<ServiceState>(), options.dataDir);
    context_->keepAliveInterval = options.keepAliveInterval;
    context_->requests.setEcho(options.echoRequests);
    host_ = options.host;
    scheme_ = options.tlsCert.empty() ? "http" : "https";
    if (!loadSeed(options, error))
        return false;

    api_ = makeServer(options, "api", error);
    sse_ = api_ ? makeServer(options, "sse", error) : nullptr;
    if (!api_ || !sse_)
        return false;
    apiPort_ = options.apiPort;
    ssePort_ = options.ssePort;
    if (!bindListener(*api_, host_, &apiPort_) || !bindListener(*sse_, host_, &ssePort_)) {
        *error = "cannot listen on " + host_ + " ports " + std::to_string(options.apiPort) +
                 " and " + std::to_string(options.ssePort);
        api_.reset();
        sse_.reset();
        return false;
    }
    context_->apiBaseUrl = apiUrl();

    RouteBinder routes(*api_, context_);
    AuthRoutes::install(routes, context_);
    AccountRoutes::install(routes, context_);
    FontRoutes::install(routes, context_);
    ClientAppRoutes::install(routes, context_);
    AdminRoutes::install(*api_, context_);
    AdminControlRoutes::install(*api_, context_);
    EventStream::install(*sse_, context_);

    apiThread_ = runListener(*api_);
    sseThread_ = runListener(*sse_);
    return true;
}

void RefService::stop() {
    if (context_) {
        std::lock_guard lock(context_->state->mutex);
        context_->state->stopping = true;
        context_->state->changed.notify_all();
    }
    if (api_)
        api_->stop();
    if (sse_)
        sse_->stop();
    if (apiThread_.joinable())
        apiThread_.join();
    if (sseThread_.joinable())
        sseThread_.join();
    api_.reset();
    sse_.reset();
}

}  // namespace tavo::refservice
