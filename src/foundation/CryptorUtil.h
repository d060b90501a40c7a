#pragma once

#include <optional>
#include <string>

#include "foundation/PlistValue.h"

namespace tavo {

inline constexpr int kCryptorEncrypt = 0;
inline constexpr int kCryptorDecrypt = 1;

// Symmetric encryption of the sensitive values of the user configuration:
// AES-128-CBC with PKCS#7 padding under a key and vector built into every
// program, so the installer, the application and the uninstaller read each
// other's files.
class CryptorUtil {
public:
    // Encryption yields exactly the padded cipher text. Decryption yields a
    // buffer of the input's length: the plain text followed by as many zero
    // bytes as the padding took. None on any cipher error (a length that is
    // not a multiple of 16, bad padding).
    static std::optional<PlistData> cryptographicWithOperation(int operation, const PlistData& data);
    static std::optional<PlistData> encryptWithData(const PlistData& data);
    static std::optional<PlistData> decryptWithData(const PlistData& data);
    // Decrypts and reads the result as UTF-8 text without its NUL bytes.
    static std::optional<std::string> decryptStringWithData(const PlistData& data);
    // The UTF-8 bytes of text, encrypted.
    static std::optional<PlistData> encryptString(const std::string& text);
};

}  // namespace tavo
