// tavo-refservice: the reference delivery API server and notification
// server, for the demo, the tests and the benchmarks.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "refservice/DemoSeed.h"
#include "refservice/RefService.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: tavo-refservice (--demo | --seed FILE) [--port N] [--sse-port N]\n"
                 "         [--data-dir DIR] [--synthetic-fonts N] [--keep-alive SECONDS]\n"
                 "         [--tls-cert FILE --tls-key FILE] [--quiet]\n"
                 "  --port        delivery API port (default 8930, 0: any free port)\n"
                 "  --sse-port    notification port (default 8931, 0: any free port)\n");
}

bool number(const char* text, long* value) {
    char* end = nullptr;
    *value = std::strtol(text, &end, 10);
    return end && *end == '\0' && *value >= 0;
}

bool parse(int argc, char** argv, tavo::refservice::ServiceOptions* options) {
    options->apiPort = 8930;
    options->ssePort = 8931;
    options->echoRequests = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long value = 0;
        if (arg == "--demo") {
            options->demo = true;
        } else if (arg == "--quiet") {
            options->echoRequests = false;
        } else if (!hasValue) {
            return false;
        } else if (arg == "--seed") {
            options->seedFile = argv[++i];
        } else if (arg == "--data-dir") {
            options->dataDir = argv[++i];
        } else if (arg == "--tls-cert") {
            options->tlsCert = argv[++i];
        } else if (arg == "--tls-key") {
            options->tlsKey = argv[++i];
        } else if (!number(argv[++i], &value)) {
            return false;
        } else if (arg == "--port" && value < 65536) {
            options->apiPort = static_cast<int>(value);
        } else if (arg == "--sse-port" && value < 65536) {
            options->ssePort = static_cast<int>(value);
        } else if (arg == "--synthetic-fonts") {
            options->syntheticFonts = static_cast<std::size_t>(value);
        } else if (arg == "--keep-alive" && value > 0) {
            options->keepAliveInterval = std::chrono::seconds(value);
        } else {
            return false;
        }
    }
    const bool tls = !options->tlsCert.empty() || !options->tlsKey.empty();
    if (tls && (options->tlsCert.empty() || options->tlsKey.empty()))
        return false;
    return options->demo || !options->seedFile.empty();
}

}  // namespace

int main(int argc, char** argv) {
    tavo::refservice::ServiceOptions options;
    if (!parse(argc, argv, &options)) {
        usage();
        return 2;
    }
    // SIGINT and SIGTERM are taken by sigwait below; every thread inherits
    // the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    tavo::refservice::RefService service;
    std::string error;
    if (!service.start(options, &error)) {
        std::fprintf(stderr, "tavo-refservice: %s\n", error.c_str());
        return 1;
    }
    std::printf("tavo-refservice: delivery API at %s/api/v1\n", service.apiUrl().c_str());
    std::printf("tavo-refservice: notifications at %s/notifications\n", service.sseUrl().c_str());
    std::printf("tavo-refservice: admin interface at %s/admin (this machine only)\n",
                service.apiUrl().c_str());
    if (options.demo && options.seedFile.empty())
        std::printf("%s", tavo::refservice::DemoSeed::credentialsText().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    std::printf("tavo-refservice: %s, stopping\n", strsignal(received));
    std::fflush(stdout);
    service.stop();
    return 0;
}
