#include <gtest/gtest.h>

#include "fontid/RecordCodec.h"

namespace tavo::fontid {
namespace {

struct DecodeCase {
    const char* payload;
    std::optional<FontRecord> expected;
};

// fontId is the service's identifier as text; a server that writes it as a
// JSON integer means the same font, so that form is read as its decimal text.
const DecodeCase kDecodeCases[] = {
    {R"({"fontId":"1234","version":"2.001"})", FontRecord{"1234", "2.001"}},
    {R"( {"version":"1.0", "fontId":"abc-9", "extra":[1,{"x":null}]} )",
     FontRecord{"abc-9", "1.0"}},
    {R"({"fontId":1234,"version":"2"})", FontRecord{"1234", "2"}},
    {R"({"fontId":"12","version":""})", FontRecord{"12", ""}},
    {"\xEF\xBB\xBF{\"fontId\":\"1\",\"version\":\"1\"}", FontRecord{"1", "1"}},
    {R"({"fontId":"\u00e9\ud83d\ude00","version":"1"})",
     FontRecord{"\xC3\xA9\xF0\x9F\x98\x80", "1"}},
    // Not a record:
    {"", std::nullopt},
    {"not json", std::nullopt},
    {R"({"fontId":"1","version":"1")", std::nullopt},
    {R"({"fontId":"1","version":"1"} trailing)", std::nullopt},
    {R"(["fontId","version"])", std::nullopt},
    {R"("fontId")", std::nullopt},
    {"null", std::nullopt},
    {R"({"version":"1"})", std::nullopt},
    {R"({"fontId":"1"})", std::nullopt},
    {R"({"fontId":"","version":"1"})", std::nullopt},
    {R"({"fontId":null,"version":"1"})", std::nullopt},
    {R"({"fontId":-5,"version":"1"})", std::nullopt},
    {R"({"fontId":1.5,"version":"1"})", std::nullopt},
    {R"({"fontId":true,"version":"1"})", std::nullopt},
    {R"({"fontId":["1"],"version":"1"})", std::nullopt},
    {R"({"fontId":"1","version":2})", std::nullopt},
    {R"({"fontId":"1","version":null})", std::nullopt},
    {"{\"fontId\":\"\xff\xfe\",\"version\":\"1\"}", std::nullopt},  // not UTF-8
};

TEST(RecordCodecTest, DecodesOnlySoundRecords) {
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.payload);
        EXPECT_EQ(RecordCodec::decode(c.payload), c.expected);
    }
    // A NUL ends the parser's input; what follows must not pass unseen.
    EXPECT_EQ(RecordCodec::decode(std::string(R"({"fontId":"1","version":"1"})") + '\0'),
              std::nullopt);
    EXPECT_EQ(RecordCodec::decode(std::string(R"({"fontId":"1","version":"1"})") + '\0' + "[["),
              std::nullopt);
}

TEST(RecordCodecTest, RefusesOversizedAndDeeplyNestedPayloads) {
    const std::string padding(kMaximumRecordSize, ' ');
    EXPECT_EQ(RecordCodec::decode(R"({"fontId":"1","version":"1"})" + padding), std::nullopt);
    const std::string deep = std::string(30000, '[') + std::string(30000, ']');
    EXPECT_EQ(RecordCodec::decode(deep), std::nullopt);
    const std::string deepMember = R"({"fontId":"1","version":"1","x":)" + std::string(20000, '[') +
                                   std::string(20000, ']') + "}";
    EXPECT_EQ(RecordCodec::decode(deepMember), (FontRecord{"1", "1"}));
}

TEST(RecordCodecTest, EncodesTheDocumentedFormAndReadsItBack) {
    EXPECT_EQ(RecordCodec::encode({"1234", "2.001"}), R"({"fontId":"1234","version":"2.001"})");
    const FontRecord awkward{"a\"b\\c\n\xC3\xA9", "v\t1"};
    EXPECT_EQ(RecordCodec::decode(RecordCodec::encode(awkward)), awkward);
    // Invalid UTF-8 is replaced, not thrown.
    EXPECT_NO_THROW(RecordCodec::encode({"\xff", "1"}));
}

}  // namespace
}  // namespace tavo::fontid
