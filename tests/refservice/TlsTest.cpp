// HTTPS on both listeners with a certificate made for the test.
#include <gtest/gtest.h>

#include "ServiceFixture.h"
#include "StreamReader.h"
#include "support/TestCertificate.h"

namespace tavo::refservice::test {
namespace {

class TlsTest : public ServiceFixture {};

TEST_F(TlsTest, BothListenersSpeakHttps) {
    ServiceOptions options = defaultOptions();
    options.tlsCert = sandbox.root() + "/cert.pem";
    options.tlsKey = sandbox.root() + "/key.pem";
    ASSERT_TRUE(tavo::test::makeTestCertificate(options.tlsCert, options.tlsKey));
    restart(options);
    EXPECT_EQ(service.apiUrl().rfind("https://127.0.0.1:", 0), 0u);

    httplib::SSLClient api("127.0.0.1", service.apiPort());
    api.enable_server_certificate_verification(false);
    auto screen = api.Get("/api/v1/screens/password-reset/url");
    ASSERT_TRUE(screen);
    EXPECT_EQ(json(screen)["data"]["url"], service.apiUrl() + "/pages/password-reset");

    httplib::SSLClient sse("127.0.0.1", service.ssePort());
    sse.enable_server_certificate_verification(false);
    auto refused = sse.Get("/notifications");
    ASSERT_TRUE(refused);
    EXPECT_EQ(code(refused), 1009);

    httplib::Client plain("127.0.0.1", service.apiPort());
    EXPECT_FALSE(plain.Get("/api/v1/screens/password-reset/url"));
}

TEST_F(TlsTest, UnusableCertificateStopsTheStart) {
    service.stop();
    ServiceOptions options = defaultOptions();
    options.tlsCert = sandbox.root() + "/missing.pem";
    options.tlsKey = sandbox.root() + "/missing.key";
    RefService other;
    std::string error;
    EXPECT_FALSE(other.start(options, &error));
    EXPECT_NE(error.find("certificate"), std::string::npos) << error;
}

}  // namespace
}  // namespace tavo::refservice::test
