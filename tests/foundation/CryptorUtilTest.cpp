#include <gtest/gtest.h>

#include "foundation/CryptorUtil.h"

using tavo::CryptorUtil;
using tavo::PlistData;

namespace {
PlistData bytes(const std::string& s) { return PlistData(s.begin(), s.end()); }
}  // namespace

TEST(CryptorUtil, OutputSizesFollowThePadding) {
    for (size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 100u}) {
        const auto cipher = CryptorUtil::encryptWithData(PlistData(n, 'a'));
        ASSERT_TRUE(cipher) << n;
        EXPECT_EQ(cipher->size(), (n / 16 + 1) * 16) << n;
        const auto plain = CryptorUtil::decryptWithData(*cipher);
        ASSERT_TRUE(plain) << n;
        // The plain text followed by as many zero bytes as the padding took.
        EXPECT_EQ(plain->size(), cipher->size());
        EXPECT_EQ(PlistData(plain->begin(), plain->begin() + static_cast<long>(n)), PlistData(n, 'a'));
        EXPECT_TRUE(std::all_of(plain->begin() + static_cast<long>(n), plain->end(),
                                [](auto b) { return b == 0; }));
    }
}

TEST(CryptorUtil, SixteenBytesRoundTrip) {
    const std::string text = "0123456789abcdef";
    const auto cipher = CryptorUtil::encryptWithData(bytes(text));
    ASSERT_TRUE(cipher);
    EXPECT_EQ(cipher->size(), 32u);
    const auto plain = CryptorUtil::decryptWithData(*cipher);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->size(), 32u);
    EXPECT_EQ(CryptorUtil::decryptStringWithData(*cipher), text);
}

TEST(CryptorUtil, BadInputYieldsNone) {
    EXPECT_FALSE(CryptorUtil::decryptWithData(PlistData(17, 1)));
    EXPECT_FALSE(CryptorUtil::decryptWithData(PlistData(15, 1)));
    EXPECT_FALSE(CryptorUtil::decryptWithData(PlistData{}));
    EXPECT_FALSE(CryptorUtil::cryptographicWithOperation(7, bytes("x")));
    // Valid length but not our cipher text: the padding check fails (almost
    // always; this input is fixed so the test is stable).
    EXPECT_FALSE(CryptorUtil::decryptStringWithData(PlistData(32, 0x41)));
}

TEST(CryptorUtil, SameKeyEveryTimeSoProgramsShareFiles) {
    EXPECT_EQ(CryptorUtil::encryptString("refresh-token"), CryptorUtil::encryptString("refresh-token"));
    EXPECT_EQ(CryptorUtil::decryptStringWithData(*CryptorUtil::encryptString("Zoë ✓")), "Zoë ✓");
}
