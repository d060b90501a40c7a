#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "fontid/FontFile.h"
#include "fontid/FontIdReader.h"
#include "fontid/FontStamper.h"
#include "fontid/MetaTable.h"
#include "fontid/TestFonts.h"
#include "support/Sandbox.h"

namespace tavo::fontid {
namespace {

using test::RawDataMap;

const FontRecord kRecord{"1234", "2.001"};
const FontRecord kOtherRecord{"98765", "1.0"};

// A real font of the machine, read and stamped once per test case.
class FontIdReaderTest : public tavo::test::SandboxTest {
protected:
    void SetUp() override {
        const std::optional<std::string> path = test::findSystemFont();
        if (!path)
            GTEST_SKIP() << "fontconfig lists no single-face TrueType/OpenType font";
        original = *FontFile::read(*path);
        stamped = FontStamper::stamp(original, kRecord).value_or("");
        ASSERT_FALSE(stamped.empty());
    }

    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = sandbox.path("/fonts/" + name);
        tavo::test::Sandbox::writeFile(path, bytes);
        return path;
    }

    std::string original;
    std::string stamped;
};

TEST_F(FontIdReaderTest, ReadsTheRecordOfAStampedFontFile) {
    EXPECT_EQ(FontIdReader::read(write("a.ttf", stamped)), kRecord);
    EXPECT_EQ(FontIdReader::readData(stamped), kRecord);
}

TEST_F(FontIdReaderTest, AFontWithoutTheRecordIsNotAServiceFont) {
    EXPECT_EQ(FontIdReader::read(write("plain.ttf", original)), std::nullopt);
    const std::string otherMeta = MetaTable::build({{HB_TAG('d', 'l', 'n', 'g'), "Latn"}});
    EXPECT_EQ(FontIdReader::readData(test::withRawMeta(original, otherMeta)), std::nullopt);
}

TEST_F(FontIdReaderTest, FindsTheRecordBesideOtherDataMaps) {
    const std::string meta = MetaTable::build({{HB_TAG('d', 'l', 'n', 'g'), "Latn"},
                                               {kRecordTag, R"({"fontId":"7","version":"3"})"},
                                               {HB_TAG('s', 'l', 'n', 'g'), "Latn,Cyrl"}});
    EXPECT_EQ(FontIdReader::readData(test::withRawMeta(original, meta)), (FontRecord{"7", "3"}));
}

TEST_F(FontIdReaderTest, ChecksEveryFaceOfACollectionAndTakesTheFirstRecord) {
    const std::string other = *FontStamper::stamp(original, kOtherRecord);

    const std::string secondOnly = test::makeCollection({original, other});
    EXPECT_EQ(FontIdReader::read(write("second.ttc", secondOnly)), kOtherRecord);

    EXPECT_EQ(FontIdReader::readData(test::makeCollection({stamped, other})), kRecord);
    EXPECT_EQ(FontIdReader::readData(test::makeCollection({original, original})), std::nullopt);

    // A broken record in the first face does not hide a sound one in the next.
    const std::string broken =
        test::withRawMeta(original, MetaTable::build({{kRecordTag, "{\"fontId\":"}}));
    EXPECT_EQ(FontIdReader::readData(test::makeCollection({broken, other})), kOtherRecord);
}

// A `meta` table that lies is no table: HarfBuzz rejects it whole.
TEST_F(FontIdReaderTest, AMetaTableThatLiesIsNotAServiceFont) {
    const std::string json = R"({"fontId":"1","version":"1"})";
    const auto length = static_cast<std::uint32_t>(json.size());
    const std::uint32_t dataAt = 16 + 12;
    const struct {
        const char* what;
        std::string meta;
    } cases[] = {
        {"sound table, for reference", test::rawMeta(1, 1, {{kRecordTag, dataAt, length}}, json)},
        {"offset past the end", test::rawMeta(1, 1, {{kRecordTag, dataAt + 4096, length}}, json)},
        {"length past the end", test::rawMeta(1, 1, {{kRecordTag, dataAt, length + 1}}, json)},
        {"offset and length wrap around",
         test::rawMeta(1, 1, {{kRecordTag, 0xFFFFFFF0u, 0x20}}, json)},
        {"huge data map count",
         test::rawMeta(1, 0xFFFFFFFFu, {{kRecordTag, dataAt, length}}, json)},
        {"count larger than the maps", test::rawMeta(1, 2, {{kRecordTag, dataAt, length}}, json)},
        {"version 2", test::rawMeta(2, 1, {{kRecordTag, dataAt, length}}, json)},
        {"another map lies",
         test::rawMeta(
             1, 2, {{HB_TAG('d', 'l', 'n', 'g'), 0x7FFFFFFF, 4}, {kRecordTag, 40, length}}, json)},
        {"header only", test::rawMeta(1, 1, {}, "")},
        {"three bytes", std::string("\0\0\0", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<FontRecord> read =
            FontIdReader::readData(test::withRawMeta(original, c.meta));
        if (&c == &cases[0])
            EXPECT_EQ(read, (FontRecord{"1", "1"}));
        else
            EXPECT_EQ(read, std::nullopt);
    }
}

TEST_F(FontIdReaderTest, ARecordThatIsNotSoundJsonIsNotAServiceFont) {
    for (const char* payload :
         {"not json", "{\"fontId\":\"1\",\"version\":\"1\"", R"({"version":"1"})",
          R"({"fontId":1.5,"version":"1"})", R"({"fontId":"1"})", R"(["1","1"])", ""}) {
        SCOPED_TRACE(payload);
        const std::string meta = MetaTable::build({{kRecordTag, payload}});
        EXPECT_EQ(FontIdReader::readData(test::withRawMeta(original, meta)), std::nullopt);
    }
}

// A damaged file of the service is still the service's as long as its record
// is whole (so the uninstaller removes it); a cut through the record, or
// through the font's structure, leaves nothing to recognise.
TEST_F(FontIdReaderTest, ATruncatedFontIsAServiceFontOnlyWhileItsRecordIsWhole) {
    const auto [metaAt, metaLength] = test::tableRange(stamped, kMetaTableTag);
    ASSERT_GT(metaLength, 0u);
    EXPECT_EQ(FontIdReader::readData(stamped.substr(0, metaAt + metaLength)), kRecord);
    EXPECT_EQ(FontIdReader::readData(stamped.substr(0, metaAt + metaLength - 1)), std::nullopt);
    EXPECT_EQ(FontIdReader::readData(stamped.substr(0, metaAt)), std::nullopt);
    EXPECT_EQ(FontIdReader::read(write("head.ttf", stamped.substr(0, 12))), std::nullopt);

    std::string directoryPastTheEnd = stamped;
    directoryPastTheEnd[4] = '\x7f';  // numTables far beyond the file's table records
    directoryPastTheEnd.resize(12 + 16 * 4);
    EXPECT_EQ(FontIdReader::readData(directoryPastTheEnd), std::nullopt);

    std::string faceOutside = test::makeCollection({stamped});
    faceOutside[12] = '\x7f';  // the only face's offset points past the end
    EXPECT_EQ(FontIdReader::readData(faceOutside), std::nullopt);
}

// Whatever the path names, the answer is "not a service font", at once.
class BadFileTest : public tavo::test::SandboxTest {};

TEST_F(BadFileTest, AnythingButAFontFileIsNotAServiceFont) {
    const std::string dir = sandbox.path("/bad");
    std::filesystem::create_directories(dir + "/folder.ttf");
    tavo::test::Sandbox::writeFile(dir + "/empty.ttf", "");
    tavo::test::Sandbox::writeFile(dir + "/three.ttf", "abc");
    tavo::test::Sandbox::writeFile(dir + "/text.ttf", "{\"fontId\":\"1\",\"version\":\"1\"}");
    std::mt19937 random(42);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    tavo::test::Sandbox::writeFile(dir + "/garbage.ttf", garbage);
    tavo::test::Sandbox::writeFile(dir + "/sfnt-garbage.ttf", std::string("\0\1\0\0", 4) + garbage);
    tavo::test::Sandbox::writeFile(dir + "/ttc-garbage.ttc",
                                   "ttcf\0\1\0\0\xff\xff\xff\xff" + garbage);
    ASSERT_EQ(::mkfifo((dir + "/pipe.ttf").c_str(), 0600), 0);
    // Above the size limit; sparse, so it costs no disk.
    std::filesystem::resize_file(
        (tavo::test::Sandbox::writeFile(dir + "/huge.ttf", "x"), dir + "/huge.ttf"),
        kMaximumFontFileSize + 1);

    for (const char* name :
         {"missing.ttf", "folder.ttf", "empty.ttf", "three.ttf", "text.ttf", "garbage.ttf",
          "sfnt-garbage.ttf", "ttc-garbage.ttc", "pipe.ttf", "huge.ttf"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FontIdReader::read(dir + "/" + name), std::nullopt);
    }
    EXPECT_EQ(FontIdReader::read(""), std::nullopt);
    EXPECT_EQ(FontIdReader::readData(garbage), std::nullopt);
}

TEST_F(BadFileTest, ReadingIsBoundedByTheLimit) {
    const std::string path = sandbox.path("/limit.bin");
    tavo::test::Sandbox::writeFile(path, std::string(1000, 'x'));
    EXPECT_EQ(FontFile::read(path, 1000)->size(), 1000u);
    EXPECT_EQ(FontFile::read(path, 999), std::nullopt);
}

}  // namespace
}  // namespace tavo::fontid
