#pragma once

#include <optional>
#include <string>

namespace tavo {

// The signature of an update archive: Ed25519 over the whole archive, kept
// as base64 text in the file beside it (archive + ".sig") and served at the
// archive's address + ".sig".
class UpdateSignature {
public:
    static std::string signaturePath(const std::string& archivePath);
    static std::string signatureURL(const std::string& archiveURL);

    // Empty when signatureText (base64) is a valid signature of data by
    // publicKeyText (base64 of the raw key); otherwise what is wrong.
    static std::string problem(const std::string& data, const std::string& signatureText,
                               const std::string& publicKeyText);
    // The same for the archive file and its signature file.
    static std::string fileProblem(const std::string& archivePath,
                                   const std::string& publicKeyText);
};

}  // namespace tavo
