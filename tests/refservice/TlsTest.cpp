// HTTPS on both listeners with a certificate made for the test.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>

#include "ServiceFixture.h"
#include "StreamReader.h"

namespace tavo::refservice::test {
namespace {

// Writes a self-signed certificate for 127.0.0.1 and its key as PEM files.
bool makeCertificate(const std::string& certPath, const std::string& keyPath) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509* cert = X509_new();
    bool ok = key && cert;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -60);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = X509_sign(cert, key, EVP_sha256()) > 0;
    }
    FILE* certFile = ok ? std::fopen(certPath.c_str(), "w") : nullptr;
    FILE* keyFile = ok ? std::fopen(keyPath.c_str(), "w") : nullptr;
    ok = certFile && keyFile && PEM_write_X509(certFile, cert) &&
         PEM_write_PrivateKey(keyFile, key, nullptr, nullptr, 0, nullptr, nullptr);
    if (certFile)
        std::fclose(certFile);
    if (keyFile)
        std::fclose(keyFile);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

class TlsTest : public ServiceFixture {};

TEST_F(TlsTest, BothListenersSpeakHttps) {
    ServiceOptions options = defaultOptions();
    options.tlsCert = sandbox.root() + "/cert.pem";
    options.tlsKey = sandbox.root() + "/key.pem";
    ASSERT_TRUE(makeCertificate(options.tlsCert, options.tlsKey));
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
