#pragma once

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace tavo::refservice {

class ServiceContext;

struct ServiceOptions {
    std::string host = "127.0.0.1";
    int apiPort = 0;  // 0: any free port
    int ssePort = 0;
    std::optional<nlohmann::json> seed;  // a seed given in-process
    std::string seedFile;
    bool demo = false;
    std::string dataDir;  // stamped fonts are kept there instead of in memory
    std::size_t syntheticFonts = 0;
    std::string tlsCert;  // both set: HTTPS on both listeners
    std::string tlsKey;
    std::chrono::milliseconds keepAliveInterval{15000};
    bool echoRequests = false;
    int threadsPerListener = 32;  // every open event stream holds one
    int connectionKeepAliveSeconds = 2;
};

// The reference delivery API server and notification server: two listeners
// on their own ports, sharing one state. Stopping ends open event streams
// and returns promptly.
class RefService {
public:
    RefService();
    ~RefService();
    RefService(const RefService&) = delete;
    RefService& operator=(const RefService&) = delete;

    bool start(const ServiceOptions& options, std::string* error);
    void stop();

    int apiPort() const { return apiPort_; }
    int ssePort() const { return ssePort_; }
    std::string apiUrl() const;  // "http://127.0.0.1:<port>"
    std::string sseUrl() const;
    // The shared state, for in-process callers that inspect it.
    std::shared_ptr<ServiceContext> context() const { return context_; }

private:
    bool loadSeed(const ServiceOptions& options, std::string* error);
    std::unique_ptr<httplib::Server> makeServer(const ServiceOptions& options,
                                                const std::string& listener, std::string* error);
    std::string url(int port) const;

    std::shared_ptr<ServiceContext> context_;
    std::unique_ptr<httplib::Server> api_;
    std::unique_ptr<httplib::Server> sse_;
    std::thread apiThread_;
    std::thread sseThread_;
    std::string scheme_ = "http";
    std::string host_;
    int apiPort_ = 0;
    int ssePort_ = 0;
};

}  // namespace tavo::refservice
