#include "TestArchives.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>

#include "foundation/Ed25519.h"
#include "support/Sandbox.h"

namespace tavo::test {

namespace {

std::uint32_t crc32(const std::string& data) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data)
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void put16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

void TestArchives::writeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    std::string local, central;
    for (const auto& entry : entries) {
        const std::uint32_t crc = crc32(entry.content);
        const auto size = static_cast<std::uint32_t>(entry.content.size());
        const std::uint32_t mode = entry.isLink ? 0120777 : entry.executable ? 0100755 : 0100644;
        const auto offset = static_cast<std::uint32_t>(local.size());
        put32(local, 0x04034b50);
        put16(local, 10);    // version needed
        put16(local, 0);     // flags
        put16(local, 0);     // stored
        put16(local, 0);     // time
        put16(local, 0x21);  // 1980-01-01
        put32(local, crc);
        put32(local, size);
        put32(local, size);
        put16(local, static_cast<std::uint32_t>(entry.name.size()));
        put16(local, 0);
        local += entry.name + entry.content;

        put32(central, 0x02014b50);
        put16(central, (3u << 8) | 30u);  // made by Unix
        put16(central, 10);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0x21);
        put32(central, crc);
        put32(central, size);
        put32(central, size);
        put16(central, static_cast<std::uint32_t>(entry.name.size()));
        put16(central, 0);  // extra
        put16(central, 0);  // comment
        put16(central, 0);  // disk
        put16(central, 0);  // internal attributes
        put32(central, mode << 16);
        put32(central, offset);
        central += entry.name;
    }
    std::string end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, static_cast<std::uint32_t>(entries.size()));
    put16(end, static_cast<std::uint32_t>(entries.size()));
    put32(end, static_cast<std::uint32_t>(central.size()));
    put32(end, static_cast<std::uint32_t>(local.size()));
    put16(end, 0);
    Sandbox::writeFile(path, local + central + end);
}

std::vector<ZipEntry> TestArchives::bundleEntries(const std::string& version) {
    const std::string top = "TAVO-Ver" + version + "/TAVO.app/Contents/";
    const std::string plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleName</key><string>TAVO</string>"
        "<key>CFBundleExecutable</key><string>TAVO</string>"
        "<key>CFBundleIdentifier</key><string>oskavelle.TAVO</string>"
        "<key>CFBundleShortVersionString</key><string>" +
        version + "</string></dict></plist>\n";
    return {{top + "Info.plist", plist, false, false},
            {top + "MacOS/TAVO", "#!/bin/sh\nexit 0\n", false, true}};
}

std::string TestArchives::signingKeyFile() {
    return std::string(TAVO_TEST_DATA_DIR) + "/update/test-signing-key.pem";
}

std::string TestArchives::publicKey() {
    const std::string pem = Sandbox::readFile(signingKeyFile());
    const auto key = Ed25519::publicKeyOf(pem);
    EXPECT_TRUE(key.has_value());
    return Ed25519::base64Encode(key.value_or(""));
}

void TestArchives::sign(const std::string& path) {
    const auto signature =
        Ed25519::sign(Sandbox::readFile(path), Sandbox::readFile(signingKeyFile()));
    ASSERT_TRUE(signature.has_value());
    Sandbox::writeFile(path + ".sig", Ed25519::base64Encode(*signature) + "\n");
}

}  // namespace tavo::test
