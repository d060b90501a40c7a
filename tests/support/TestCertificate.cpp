#include "support/TestCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace tavo::test {

bool makeTestCertificate(const std::string& certPath, const std::string& keyPath) {
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
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
        X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1");
        ok = san && X509_add_ext(cert, san, -1) == 1;
        X509_EXTENSION_free(san);
        ok = ok && X509_sign(cert, key, EVP_sha256()) > 0;
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

}  // namespace tavo::test
