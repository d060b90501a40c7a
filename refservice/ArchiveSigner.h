#pragma once

#include <optional>
#include <string>

namespace tavo::refservice {

// Signs update archives as the service does: Ed25519 over the whole
// archive, served as base64 text at the archive's address + ".sig".
class ArchiveSigner {
public:
    // The base64 signature of data by the PEM private key in keyFile; none
    // when the file holds no Ed25519 private key.
    static std::optional<std::string> signFile(const std::string& keyFile, const std::string& data);
    // The reference service's own test key (the test data's key pair).
    static std::string defaultKeyFile();
};

}  // namespace tavo::refservice
