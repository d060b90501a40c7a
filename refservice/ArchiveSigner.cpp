#include "refservice/ArchiveSigner.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <vector>

#include "refservice/FontFiles.h"

namespace tavo::refservice {

std::optional<std::string> ArchiveSigner::signFile(const std::string& keyFile,
                                                   const std::string& data) {
    const auto pem = FontFiles::readFile(keyFile);
    if (!pem)
        return std::nullopt;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem->data(), static_cast<int>(pem->size())), &BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr,
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519 || !context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return std::nullopt;
    unsigned char signature[64];
    std::size_t length = sizeof signature;
    if (EVP_DigestSign(context.get(), signature, &length,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
        return std::nullopt;
    std::vector<unsigned char> text(4 * ((length + 2) / 3) + 1);
    const int written = EVP_EncodeBlock(text.data(), signature, static_cast<int>(length));
    return std::string(reinterpret_cast<const char*>(text.data()),
                       static_cast<std::size_t>(written));
}

std::string ArchiveSigner::defaultKeyFile() {
    return TAVO_REFSERVICE_SIGNING_KEY;
}

}  // namespace tavo::refservice
