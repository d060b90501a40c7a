#include "service/Reachability.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"

namespace tavo {

using platform::ReachabilitySource;
using platform::ReachabilityTarget;

namespace {

constexpr const char* kSerialQueueLabel = "reachabilitySerialQueue";
constexpr int kHttpsPort = 443;
constexpr int kHttpPort = 80;
constexpr int kMaximumPort = 65535;

// Stands in while no platform source is installed: everything is reachable,
// and nothing ever changes.
class AlwaysReachableSource : public ReachabilitySource {
public:
    std::optional<std::uint32_t> currentFlags() override {
        return platform::kReachabilityFlagsReachable;
    }
    bool start(std::function<void(std::uint32_t)>) override { return true; }
    void stop() override {}
};

std::mutex factoryMutex;
Reachability::SourceFactory sourceFactory;
std::once_flag noSourceLogged;

std::shared_ptr<ReachabilitySource> sourceFor(const ReachabilityTarget& target) {
    Reachability::SourceFactory factory;
    {
        std::lock_guard lock(factoryMutex);
        factory = sourceFactory;
    }
    if (factory) {
        if (auto source = factory(target))
            return source;
    }
    std::call_once(noSourceLogged, [] {
        WLog("No reachability service is available: the network is taken as reachable");
    });
    return std::make_shared<AlwaysReachableSource>();
}

bool isIpAddress(const std::string& text) {
    std::array<unsigned char, 16> buffer{};
    return inet_pton(AF_INET, text.c_str(), buffer.data()) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer.data()) == 1;
}

std::string lowercase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A decimal port of 1 to 65535.
std::optional<int> parsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int port = std::stoi(text);
    if (port < 1 || port > kMaximumPort)
        return std::nullopt;
    return port;
}

// scheme://[userinfo@]host[:port][/path][?query][#fragment], where host may
// be an IPv6 literal in brackets.
std::optional<ReachabilityTarget> targetForURL(const std::string& url) {
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0)
        return std::nullopt;
    const std::string scheme = lowercase(url.substr(0, schemeEnd));
    if (!std::isalpha(static_cast<unsigned char>(scheme[0])) ||
        !std::all_of(scheme.begin(), scheme.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        }))
        return std::nullopt;
    std::string authority = url.substr(schemeEnd + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority = authority.substr(at + 1);

    ReachabilityTarget target;
    std::string portText;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        target.host = authority.substr(1, close - 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return std::nullopt;
        hasPort = !rest.empty();
        portText = hasPort ? rest.substr(1) : "";
        std::array<unsigned char, 16> buffer{};
        if (inet_pton(AF_INET6, target.host.c_str(), buffer.data()) != 1)
            return std::nullopt;
    } else {
        const std::size_t colon = authority.find(':');
        target.host = authority.substr(0, colon);
        hasPort = colon != std::string::npos;
        portText = hasPort ? authority.substr(colon + 1) : "";
        if (target.host.find_first_of(":[] \t") != std::string::npos)
            return std::nullopt;
    }
    if (target.host.empty())
        return std::nullopt;
    if (portText.empty()) {
        // "https://host:/" names no port: the scheme's applies.
        target.port = scheme == "https" ? kHttpsPort : kHttpPort;
    } else {
        auto port = parsePort(portText);
        if (!port)
            return std::nullopt;
        target.port = *port;
    }
    return target;
}

}  // namespace

void Reachability::setSourceFactory(SourceFactory factory) {
    std::lock_guard lock(factoryMutex);
    sourceFactory = std::move(factory);
}

std::shared_ptr<Reachability> Reachability::make(ReachabilityTarget target, Source source) {
    if (!source)
        source = sourceFor(target);
    return std::make_shared<Reachability>(std::move(target), std::move(source), PrivateTag{});
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection(Source source) {
    return make(ReachabilityTarget{}, std::move(source));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(const std::string& hostname,
                                                                     Source source) {
    if (hostname.empty() || hostname.find_first_of(" \t\r\n/") != std::string::npos)
        return nullptr;
    return make(ReachabilityTarget{hostname, 0}, std::move(source));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const std::string& ip, int port,
                                                                    Source source) {
    if (!isIpAddress(ip) || port < 0 || port > kMaximumPort)
        return nullptr;
    return make(ReachabilityTarget{ip, port}, std::move(source));
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi(Source source) {
    // Every network of this platform counts as the local one.
    return reachabilityForInternetConnection(std::move(source));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithURL(const std::string& url,
                                                                Source source) {
    auto target = targetForURL(url);
    if (!target)
        return nullptr;
    return make(std::move(*target), std::move(source));
}

Reachability::Reachability(ReachabilityTarget target, Source source, PrivateTag)
    : target_(std::move(target)),
      source_(std::move(source)),
      queue_(std::make_shared<SerialQueue>(kSerialQueueLabel)) {}

Reachability::~Reachability() {
    stopNotifier();
}

bool Reachability::isReachableWithFlags(std::uint32_t flags) {
    using namespace platform;
    if ((flags & kReachabilityFlagsReachable) == 0)
        return false;
    const std::uint32_t requiredAndTransient =
        kReachabilityFlagsConnectionRequired | kReachabilityFlagsTransientConnection;
    return (flags & requiredAndTransient) != requiredAndTransient;
}

Reachability::NetworkReachable Reachability::reachableBlock() const {
    std::lock_guard lock(blocksMutex_);
    return reachableBlock_;
}

void Reachability::setReachableBlock(NetworkReachable block) {
    std::lock_guard lock(blocksMutex_);
    reachableBlock_ = std::move(block);
}

Reachability::NetworkUnreachable Reachability::unreachableBlock() const {
    std::lock_guard lock(blocksMutex_);
    return unreachableBlock_;
}

void Reachability::setUnreachableBlock(NetworkUnreachable block) {
    std::lock_guard lock(blocksMutex_);
    unreachableBlock_ = std::move(block);
}

Reachability::NetworkReachability Reachability::reachabilityBlock() const {
    std::lock_guard lock(blocksMutex_);
    return reachabilityBlock_;
}

void Reachability::setReachabilityBlock(NetworkReachability block) {
    std::lock_guard lock(blocksMutex_);
    reachabilityBlock_ = std::move(block);
}

bool Reachability::startNotifier() {
    std::lock_guard lock(notifierMutex_);
    if (activeGeneration_ != 0)
        return true;
    const std::uint64_t generation = ++generations_;
    // The source's thread holds the watcher weakly and the queue by
    // ownership: it may deliver while the watcher goes away.
    auto onChange = [weak = weak_from_this(), queue = queue_, generation](std::uint32_t flags) {
        queue->async([weak, generation, flags] {
            if (auto self = weak.lock())
                self->reachabilityChanged(generation, flags);
        });
    };
    activeGeneration_ = generation;
    if (!source_->start(std::move(onChange))) {
        source_->stop();
        activeGeneration_ = 0;
        ELog("Reachability: cannot start watching [%@]",
             target_.host.empty() ? std::string("internet connection") : target_.host);
        return false;
    }
    return true;
}

void Reachability::stopNotifier() {
    std::lock_guard lock(notifierMutex_);
    if (activeGeneration_ == 0)
        return;
    activeGeneration_ = 0;
    source_->stop();
}

void Reachability::reachabilityChanged(std::uint64_t generation, std::uint32_t flags) {
    if (activeGeneration_ != generation)
        return;  // delivered after the notifier stopped
    auto self = shared_from_this();
    if (isReachableWithFlags(flags)) {
        if (auto block = reachableBlock())
            block(self);
    } else {
        if (auto block = unreachableBlock())
            block(self);
    }
    if (auto block = reachabilityBlock())
        block(self, flags);
    MainQueue::main().async([self] {
        NotificationCenter::defaultCenter().post(kReachabilityChangedNotification,
                                                 {{kReachabilityKey, self}});
    });
}

std::uint32_t Reachability::reachabilityFlags() const {
    return source_->currentFlags().value_or(0);
}

bool Reachability::isReachable() const {
    auto flags = source_->currentFlags();
    return flags && isReachableWithFlags(*flags);
}

bool Reachability::isReachableViaWWAN() const {
    return false;  // no cellular interface here
}

bool Reachability::isReachableViaWiFi() const {
    return (reachabilityFlags() & platform::kReachabilityFlagsReachable) != 0;
}

bool Reachability::isConnectionRequired() const {
    return (reachabilityFlags() & platform::kReachabilityFlagsConnectionRequired) != 0;
}

bool Reachability::isConnectionOnDemand() const {
    using namespace platform;
    const std::uint32_t flags = reachabilityFlags();
    return (flags & kReachabilityFlagsConnectionRequired) != 0 &&
           (flags &
            (kReachabilityFlagsConnectionOnTraffic | kReachabilityFlagsConnectionOnDemand)) != 0;
}

bool Reachability::isInterventionRequired() const {
    using namespace platform;
    const std::uint32_t flags = reachabilityFlags();
    return (flags & kReachabilityFlagsConnectionRequired) != 0 &&
           (flags & kReachabilityFlagsInterventionRequired) != 0;
}

NetworkStatus Reachability::currentReachabilityStatus() const {
    // One reading for both questions, so a change between them cannot mix.
    const std::uint32_t flags = reachabilityFlags();
    if (isReachableWithFlags(flags) && (flags & platform::kReachabilityFlagsReachable) != 0)
        return ReachableViaWiFi;
    return NotReachable;
}

std::string Reachability::currentReachabilityString() const {
    switch (currentReachabilityStatus()) {
        case ReachableViaWiFi:
            return localized("WiFi");
        case ReachableViaWWAN:
            return localized("Cellular");
        case NotReachable:
            break;
    }
    return localized("No Connection");
}

}  // namespace tavo
