#include "foundation/Ed25519.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <vector>

namespace tavo {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using ContextPtr = std::unique_ptr<EVP_MD_CTX, ContextFree>;

const unsigned char* bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

KeyPtr readPrivateKey(std::string_view pem) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio)
        return nullptr;
    KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        return nullptr;
    return key;
}

bool isSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

}  // namespace

bool Ed25519::verify(std::string_view data, std::string_view signature,
                     std::string_view publicKey) {
    if (signature.size() != kSignatureSize || publicKey.size() != kPublicKeySize)
        return false;
    KeyPtr key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes(publicKey), publicKey.size()));
    ContextPtr context(EVP_MD_CTX_new());
    if (!key || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), bytes(signature), signature.size(), bytes(data),
                            data.size()) == 1;
}

std::optional<std::string> Ed25519::sign(std::string_view data, std::string_view privateKeyPem) {
    KeyPtr key = readPrivateKey(privateKeyPem);
    ContextPtr context(EVP_MD_CTX_new());
    if (!key || !context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return std::nullopt;
    std::string signature(kSignatureSize, '\0');
    std::size_t length = signature.size();
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       bytes(data), data.size()) != 1 ||
        length != kSignatureSize)
        return std::nullopt;
    return signature;
}

std::optional<std::string> Ed25519::publicKeyOf(std::string_view privateKeyPem) {
    KeyPtr key = readPrivateKey(privateKeyPem);
    if (!key)
        return std::nullopt;
    std::string raw(kPublicKeySize, '\0');
    std::size_t length = raw.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()),
                                    &length) != 1 ||
        length != kPublicKeySize)
        return std::nullopt;
    return raw;
}

std::string Ed25519::base64Encode(std::string_view data) {
    std::vector<unsigned char> out(4 * ((data.size() + 2) / 3) + 1);
    const int length = EVP_EncodeBlock(out.data(), bytes(data), static_cast<int>(data.size()));
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(length));
}

std::optional<std::string> Ed25519::base64Decode(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    if (text.size() % 4 != 0)
        return std::nullopt;
    for (char c : text) {
        const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
        if (!valid)
            return std::nullopt;
    }
    std::vector<unsigned char> out(3 * (text.size() / 4) + 1);
    const int length = EVP_DecodeBlock(out.data(), bytes(text), static_cast<int>(text.size()));
    if (length < 0)
        return std::nullopt;
    std::size_t size = static_cast<std::size_t>(length);
    // EVP_DecodeBlock counts the padding as zero bytes.
    if (text.size() >= 1 && text[text.size() - 1] == '=')
        --size;
    if (text.size() >= 2 && text[text.size() - 2] == '=')
        --size;
    const std::string decoded(reinterpret_cast<const char*>(out.data()), size);
    if (base64Encode(decoded) != text)
        return std::nullopt;  // not canonical: stray padding or bits
    return decoded;
}

}  // namespace tavo
