#include <gtest/gtest.h>

#include <filesystem>

#include "fontid/FontFile.h"
#include "fontid/FontIdReader.h"
#include "fontid/FontStamper.h"
#include "fontid/HbHandle.h"
#include "fontid/MetaTable.h"
#include "fontid/TestFonts.h"
#include "support/Sandbox.h"

namespace tavo::fontid {
namespace {

const FontRecord kRecord{"1234", "2.001"};

std::vector<hb_tag_t> tagsOf(hb_face_t* face) {
    hb_tag_t tags[128];
    unsigned int count = 128;
    hb_face_get_table_tags(face, 0, &count, tags);
    return {tags, tags + count};
}

std::string tableOf(hb_face_t* face, hb_tag_t tag) {
    HbBlob blob(hb_face_reference_table(face, tag));
    unsigned int length = 0;
    const char* data = hb_blob_get_data(blob.get(), &length);
    return std::string(data ? data : "", data ? length : 0);
}

class FontStamperTest : public tavo::test::SandboxTest {
protected:
    void SetUp() override {
        const std::optional<std::string> found = test::findSystemFont();
        if (!found)
            GTEST_SKIP() << "fontconfig lists no single-face TrueType/OpenType font";
        source = *found;
        original = *FontFile::read(source);
    }

    std::string source;
    std::string original;
};

TEST_F(FontStamperTest, KeepsEveryTableAndAddsTheRecord) {
    const std::string stamped = FontStamper::stamp(original, kRecord).value_or("");
    ASSERT_FALSE(stamped.empty());
    HbBlob before(hb_blob_create(original.data(), static_cast<unsigned int>(original.size()),
                                 HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    HbBlob after(hb_blob_create(stamped.data(), static_cast<unsigned int>(stamped.size()),
                                HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    HbFace oldFace(hb_face_create(before.get(), 0));
    HbFace newFace(hb_face_create(after.get(), 0));

    std::vector<hb_tag_t> expected = tagsOf(oldFace.get());
    std::erase(expected, HB_TAG('D', 'S', 'I', 'G'));
    if (std::find(expected.begin(), expected.end(), kMetaTableTag) == expected.end())
        expected.push_back(kMetaTableTag);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(tagsOf(newFace.get()), expected);  // the directory is sorted by tag
    for (const hb_tag_t tag : expected) {
        if (tag == kMetaTableTag || tag == HB_TAG('h', 'e', 'a', 'd'))
            continue;
        EXPECT_EQ(tableOf(newFace.get(), tag), tableOf(oldFace.get(), tag));
    }
    // Only the whole-font check sum adjustment of `head` changes.
    std::string oldHead = tableOf(oldFace.get(), HB_TAG('h', 'e', 'a', 'd'));
    std::string newHead = tableOf(newFace.get(), HB_TAG('h', 'e', 'a', 'd'));
    ASSERT_EQ(oldHead.size(), newHead.size());
    oldHead.replace(8, 4, 4, '\0');
    newHead.replace(8, 4, 4, '\0');
    EXPECT_EQ(newHead, oldHead);
    EXPECT_TRUE(test::checkSumIsMagic(stamped));
    EXPECT_EQ(FontIdReader::readData(stamped), kRecord);
}

TEST_F(FontStamperTest, AStampedFileLoadsInFontconfigAndReadsBack) {
    const std::string folder = sandbox.path("/fonts");
    std::filesystem::create_directories(folder);
    const std::string copy = folder + "/copy.ttf";
    const std::string output = folder + "/stamped.ttf";
    std::filesystem::copy_file(source, copy);

    ASSERT_TRUE(FontStamper::stampFile(copy, output, kRecord));
    EXPECT_EQ(FontIdReader::read(output), kRecord);
    EXPECT_EQ(FontIdReader::read(copy), std::nullopt);
    EXPECT_EQ(std::filesystem::status(output).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0644));
    // Nothing but the two files: the temporary file was renamed into place.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              2);

    const std::string family = test::commandOutput("fc-scan --format '%{family}' '" + copy + "'");
    ASSERT_FALSE(family.empty()) << "fc-scan does not see the unstamped font";
    EXPECT_EQ(test::commandOutput("fc-scan --format '%{family}' '" + output + "'"), family);

    // Stamping in place replaces the file.
    ASSERT_TRUE(FontStamper::stampFile(output, output, {"77", "3.0"}));
    EXPECT_EQ(FontIdReader::read(output), (FontRecord{"77", "3.0"}));
}

TEST_F(FontStamperTest, RestampingReplacesTheRecordAndKeepsOtherDataMaps) {
    const hb_tag_t dlng = HB_TAG('d', 'l', 'n', 'g');
    const std::string withMeta =
        test::withRawMeta(original, MetaTable::build({{dlng, "Latn"}, {kRecordTag, "{}"}}));
    const std::string once = *FontStamper::stamp(withMeta, kRecord);
    const std::string twice = *FontStamper::stamp(once, {"55", "9"});

    HbBlob blob(hb_blob_create(twice.data(), static_cast<unsigned int>(twice.size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    HbFace face(hb_face_create(blob.get(), 0));
    const std::vector<MetaEntry> entries = MetaTable::entries(face.get());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (MetaEntry{dlng, "Latn"}));
    EXPECT_EQ(entries[1].first, kRecordTag);
    EXPECT_EQ(FontIdReader::readData(twice), (FontRecord{"55", "9"}));
}

TEST_F(FontStamperTest, RefusesWhatIsNotASingleFont) {
    EXPECT_EQ(FontStamper::stamp("", kRecord), std::nullopt);
    EXPECT_EQ(FontStamper::stamp("garbage garbage garbage garbage", kRecord), std::nullopt);
    EXPECT_EQ(FontStamper::stamp(original.substr(0, 12), kRecord), std::nullopt);
    // A collection: stamping one face would drop the others.
    EXPECT_EQ(FontStamper::stamp(test::makeCollection({original, original}), kRecord),
              std::nullopt);

    const std::string folder = sandbox.path("/fonts");
    EXPECT_FALSE(FontStamper::stampFile(folder + "/missing.ttf", folder + "/out.ttf", kRecord));
    EXPECT_FALSE(FontStamper::stampFile(source, folder + "/no/such/folder/out.ttf", kRecord));
}

}  // namespace
}  // namespace tavo::fontid
