#pragma once

#include <string>

namespace tavo::test {

// Writes a self-signed certificate for 127.0.0.1 (subject and IP address
// alternative name) and its key as PEM files, valid for an hour.
bool makeTestCertificate(const std::string& certPath, const std::string& keyPath);

}  // namespace tavo::test
