// Requests per second of the client's synchronous GETs against the reference
// service on loopback, next to the plain curl command and bare libcurl on the
// same endpoint in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdlib>
#include <filesystem>

#include "foundation/Process.h"
#include "platform/Layout.h"
#include "refservice/RefService.h"
#include "service/LoginApi.h"
#include "service/NoticeApi.h"

namespace fs = std::filesystem;
using namespace tavo;

namespace {

refservice::RefService* service = nullptr;

ApiClient& signedInClient() {
    static ApiClient* client = [] {
        auto* c = new ApiClient;
        c->setApiEndpoint(service->apiUrl());
        c->setUserAgent("TAVO/bench");
        c->timeoutIntervalForRequest = 10;
        LoginApi api(*c);
        const auto device = api.deviceIdWithMailAddress("bench@example.com", "pw", "h", "u", "k", nullptr);
        c->setDeviceId(device.data->deviceId);
        const auto login = api.loginWithMailAddress("bench@example.com", "pw", nullptr);
        c->setAccessToken(login.data->accessToken);
        return c;
    }();
    return *client;
}

std::string noticeUrl() { return service->apiUrl() + "/api/v1/notice"; }

void BM_ApiClientGet(benchmark::State& state) {
    ApiClient& client = signedInClient();
    NoticeApi api(client);
    for (auto _ : state) {
        const auto notice = api.getNoticeWithError(nullptr);
        if (notice.resultCode() != 0)
            state.SkipWithError("the notice request failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ApiClientGet)->UseRealTime();

void BM_CurlCommand(benchmark::State& state) {
    ApiClient& client = signedInClient();
    const std::vector<std::string> args = {
        "-s", "-o", "/dev/null", "-H", "X-TAVO-DEVICEID: " + *client.deviceId(),
        "-H", "Authorization: Bearer " + *client.accessToken(), noticeUrl()};
    for (auto _ : state)
        Process::run("curl", args, false);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CurlCommand)->UseRealTime();

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

void BM_BareLibcurl(benchmark::State& state) {
    ApiClient& client = signedInClient();
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, ("X-TAVO-DEVICEID: " + *client.deviceId()).c_str());
    headers = curl_slist_append(headers, ("Authorization: Bearer " + *client.accessToken()).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, noticeUrl().c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    for (auto _ : state)
        curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareLibcurl)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    std::string root = (fs::temp_directory_path() / "tavo-bench-XXXXXX").string();
    if (!mkdtemp(root.data()))
        return 2;
    platform::setSandboxRoot(root);

    refservice::RefService refService;
    refservice::ServiceOptions options;
    options.seed = nlohmann::json{{"accounts", {{{"mailAddress", "bench@example.com"}, {"password", "pw"}}}}};
    std::string error;
    if (!refService.start(options, &error)) {
        fprintf(stderr, "reference service: %s\n", error.c_str());
        return 2;
    }
    service = &refService;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    refService.stop();
    fs::remove_all(root);
    return 0;
}
