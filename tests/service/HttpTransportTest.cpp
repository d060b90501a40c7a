#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "ServiceFixture.h"
#include "foundation/FileUtil.h"
#include "service/HttpTransport.h"

using namespace tavo;

namespace {

class HttpTransportTest : public tavo::test::ServiceFixture {
protected:
    HttpRequest request(const std::string& path) const {
        HttpRequest request;
        request.url = service.apiUrl() + path;
        request.timeoutInterval = 5;
        return request;
    }
};

}  // namespace

// A download's file is asked for once the request is out, after the
// observer heard so, and gets the whole body; every answer asks for it
// once, a bodiless one too.
TEST_F(HttpTransportTest, TheFileIsMadeOnceTheRequestIsOut) {
    const std::string path = "/api/v1/notice";
    addFault({{"path", path}, {"status", 200}, {"body", "a body"}, {"count", 1}});
    addFault({{"path", path}, {"status", 200}, {"emptyBody", true}, {"count", 1}});
    for (const std::string expected : {"a body", ""}) {
        SCOPED_TRACE(expected.empty() ? "bodiless" : "with a body");
        const std::string file = sandbox.root() + "/download";
        std::vector<std::string> events;
        TransferObserver observer;
        observer.requestSent = [&] { events.push_back("sent"); };
        int fd = -1;
        const Response response = HttpTransport::performToFile(
            request(path),
            [&] {
                events.push_back("file");
                fd = ::open(file.c_str(), O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0600);
                return fd;
            },
            observer);
        ASSERT_GE(fd, 0);
        ::close(fd);
        EXPECT_FALSE(response.error) << response.error->text();
        EXPECT_EQ(events, (std::vector<std::string>{"sent", "file"}));
        EXPECT_EQ(FileUtil::readFile(file), expected);
    }
}

// No file for the body fails the exchange clearly, whether or not the
// answer has a body to write.
TEST_F(HttpTransportTest, NoFileForTheBodyFailsTheExchange) {
    const std::string path = "/api/v1/notice";
    addFault({{"path", path}, {"status", 200}, {"body", "a body"}, {"count", 1}});
    addFault({{"path", path}, {"status", 200}, {"emptyBody", true}, {"count", 1}});
    for (int i = 0; i < 2; ++i) {
        const Response response = HttpTransport::performToFile(request(path), [] { return -1; });
        ASSERT_TRUE(response.error);
        EXPECT_EQ(response.error->code, -3000);
    }
    EXPECT_EQ(requests(path).size(), 2u);
}

// A stopped request never goes out: neither the observer nor the file
// hears of it.
TEST_F(HttpTransportTest, AStoppedRequestAsksForNoFile) {
    HttpRequest stopped = request("/api/v1/notice");
    stopped.stop = std::make_shared<TransferStop>();
    stopped.stop->stop();
    bool asked = false;
    TransferObserver observer;
    observer.requestSent = [&] { asked = true; };
    const Response response = HttpTransport::performToFile(
        stopped,
        [&] {
            asked = true;
            return -1;
        },
        observer);
    ASSERT_TRUE(response.error);
    EXPECT_EQ(response.error->code, kURLErrorCancelled);
    EXPECT_FALSE(asked);
    EXPECT_TRUE(requests("/api/v1/notice").empty());
}
