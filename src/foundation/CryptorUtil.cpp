#include "foundation/CryptorUtil.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace tavo {

namespace {

// Two fixed texts in identifier form; the first 16 bytes of each are the key
// and the initialisation vector.
constexpr char kKeyText[] = "4f2a9c1e-7b3d-4e8a-9f61-2c5d8b0e3a17";
constexpr char kIvText[] = "b8e1d4c7-2a6f-4935-8c0b-71e9f3a5d26c";
constexpr int kBlockSize = 16;

struct CtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

}  // namespace

std::optional<PlistData> CryptorUtil::cryptographicWithOperation(int operation, const PlistData& data) {
    if (operation != kCryptorEncrypt && operation != kCryptorDecrypt)
        return std::nullopt;
    const bool encrypt = operation == kCryptorEncrypt;
    if (!encrypt && data.size() % kBlockSize != 0)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return std::nullopt;
    const auto* key = reinterpret_cast<const unsigned char*>(kKeyText);
    const auto* iv = reinterpret_cast<const unsigned char*>(kIvText);
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key, iv, encrypt ? 1 : 0) != 1)
        return std::nullopt;

    // Sized for the whole input with finalisation, and returned at that size.
    const size_t outputSize = encrypt ? (data.size() / kBlockSize + 1) * kBlockSize : data.size();
    PlistData out(outputSize + kBlockSize, 0);
    int written = 0;
    int finalWritten = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &written, data.data(), static_cast<int>(data.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + written, &finalWritten) != 1)
        return std::nullopt;
    const size_t used = static_cast<size_t>(written + finalWritten);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(used), out.end(), 0);
    out.resize(outputSize);
    return out;
}

std::optional<PlistData> CryptorUtil::encryptWithData(const PlistData& data) {
    return cryptographicWithOperation(kCryptorEncrypt, data);
}

std::optional<PlistData> CryptorUtil::decryptWithData(const PlistData& data) {
    return cryptographicWithOperation(kCryptorDecrypt, data);
}

std::optional<std::string> CryptorUtil::decryptStringWithData(const PlistData& data) {
    const auto plain = decryptWithData(data);
    if (!plain)
        return std::nullopt;
    std::string text;
    text.reserve(plain->size());
    for (std::uint8_t byte : *plain)
        if (byte != 0)
            text += static_cast<char>(byte);
    return text;
}

std::optional<PlistData> CryptorUtil::encryptString(const std::string& text) {
    return encryptWithData(PlistData(text.begin(), text.end()));
}

}  // namespace tavo
