#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavo {

// Ed25519 signatures over whole byte strings (OpenSSL), and the base64 text
// that carries keys and signatures in files and over HTTP.
class Ed25519 {
public:
    static constexpr std::size_t kPublicKeySize = 32;
    static constexpr std::size_t kSignatureSize = 64;

    // True when signature (64 raw bytes) is a valid signature of data by the
    // raw 32-byte public key. Any other size is no valid signature.
    static bool verify(std::string_view data, std::string_view signature,
                       std::string_view publicKey);
    // The 64-byte signature of data by a private key in PEM form; none when
    // the key is no Ed25519 private key.
    static std::optional<std::string> sign(std::string_view data, std::string_view privateKeyPem);
    // The raw public key of a PEM private key.
    static std::optional<std::string> publicKeyOf(std::string_view privateKeyPem);

    static std::string base64Encode(std::string_view bytes);
    // Surrounding white space is ignored; none for anything that is not
    // canonical base64.
    static std::optional<std::string> base64Decode(std::string_view text);
};

}  // namespace tavo
