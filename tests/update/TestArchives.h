#pragma once

#include <string>
#include <vector>

namespace tavo::test {

// Update archives for the tests: zip files written entry by entry (so an
// entry can be anything an attacker might put there), signed with the
// reference service's test key.
struct ZipEntry {
    std::string name;
    std::string content;  // a link's target for a link
    bool isLink = false;
    bool executable = false;
};

class TestArchives {
public:
    // A stored (uncompressed) zip archive of the entries.
    static void writeZip(const std::string& path, const std::vector<ZipEntry>& entries);
    // The entries of a small TAVO bundle of the version in "TAVO-Ver<version>/".
    static std::vector<ZipEntry> bundleEntries(const std::string& version);
    // Writes path + ".sig" with the test key's signature of the file.
    static void sign(const std::string& path);
    static std::string signingKeyFile();
    static std::string publicKey();  // base64, as Info.plist holds it
};

}  // namespace tavo::test
