#include "update/UpdateSignature.h"

#include "foundation/Ed25519.h"
#include "foundation/Error.h"
#include "foundation/FileUtil.h"

namespace tavo {

namespace {

// Largest archive read whole to check it.
constexpr std::size_t kLargestArchive = 512u << 20;

}  // namespace

std::string UpdateSignature::signaturePath(const std::string& archivePath) {
    return archivePath + ".sig";
}

std::string UpdateSignature::signatureURL(const std::string& archiveURL) {
    return archiveURL + ".sig";
}

std::string UpdateSignature::problem(const std::string& data, const std::string& signatureText,
                                     const std::string& publicKeyText) {
    const auto key = Ed25519::base64Decode(publicKeyText);
    if (!key || key->size() != Ed25519::kPublicKeySize)
        return "no public key to check the signature with";
    const auto signature = Ed25519::base64Decode(signatureText);
    if (!signature || signature->size() != Ed25519::kSignatureSize)
        return "the signature is not base64 of 64 bytes";
    if (!Ed25519::verify(data, *signature, *key))
        return "the signature does not match the archive";
    return {};
}

std::string UpdateSignature::fileProblem(const std::string& archivePath,
                                         const std::string& publicKeyText) {
    Error error;
    const auto signature = FileUtil::readFile(signaturePath(archivePath), 4096, &error);
    if (!signature)
        return "no signature: " + error.text();
    const auto data = FileUtil::readFile(archivePath, kLargestArchive, &error);
    if (!data)
        return "the archive cannot be read: " + error.text();
    return problem(*data, *signature, publicKeyText);
}

}  // namespace tavo
