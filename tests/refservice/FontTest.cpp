// The font list and the font files: paging, the deleted list, downloads that
// carry their identification record and load as fonts, and the answers for
// fonts that cannot be served.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "ServiceFixture.h"
#include "fontid/FontIdReader.h"

namespace tavo::refservice::test {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

class FontTest : public ServiceFixture {
protected:
    Json page(const Session& session, const std::string& query) {
        auto result = get("/api/v1/install-fonts?" + query, headers(session));
        EXPECT_EQ(code(result), 0) << query;
        return json(result)["data"];
    }

    // Whether fontconfig reads the bytes as a font, and its family name.
    std::string familyOf(const std::string& bytes) {
        const std::string path = sandbox.root() + "/probe.ttf";
        tavo::test::Sandbox::writeFile(path, bytes);
        int count = 0;
        FcPattern* pattern =
            FcFreeTypeQuery(reinterpret_cast<const FcChar8*>(path.c_str()), 0, nullptr, &count);
        if (!pattern)
            return {};
        FcChar8* family = nullptr;
        std::string name;
        if (FcPatternGetString(pattern, FC_FAMILY, 0, &family) == FcResultMatch)
            name = reinterpret_cast<const char*>(family);
        FcPatternDestroy(pattern);
        return name;
    }
};

TEST_F(FontTest, ListEntriesCarryEveryMemberTheClientReads) {
    Session session = signIn(kUser);
    Json data = page(session, "contains=availableFonts&limit=1000&offset=0");
    ASSERT_EQ(data["fonts"].size(), 3u);
    EXPECT_EQ(data["hasNext"], false);
    const Json font = data["fonts"][0];
    EXPECT_EQ(font["fontId"], "1001");
    EXPECT_EQ(font["activateFlg"], true);
    EXPECT_EQ(font["isAvailableFont"], true);
    EXPECT_EQ(font["isFreemium"], false);
    EXPECT_EQ(font["contractIds"], Json::array({"c-1"}));
    EXPECT_EQ(font["version"], "1.000");
    EXPECT_TRUE(font["fileSize"].is_number_integer());
    for (const char* member :
         {"userFontId", "displayFontName", "fileName", "needFontVersionUpdate"})
        EXPECT_TRUE(font.contains(member)) << member;
}

TEST_F(FontTest, TwentyFiveHundredFontsComeInThreePages) {
    ServiceOptions options = defaultOptions();
    options.seed =
        Json{{"syntheticFonts", 2500},
             {"accounts", {{{"mailAddress", kUser}, {"password", kPassword}, {"fonts", "all"}}}}};
    restart(options);
    Session session = signIn(kUser);
    std::set<std::string> ids;
    std::vector<bool> hasNext;
    std::vector<std::size_t> sizes;
    for (int offset = 0; offset < 3000; offset += 1000) {
        Json data =
            page(session, "contains=availableFonts&limit=1000&offset=" + std::to_string(offset));
        sizes.push_back(data["fonts"].size());
        hasNext.push_back(data["hasNext"]);
        for (const auto& font : data["fonts"])
            ids.insert(font["fontId"].get<std::string>());
        if (!data["hasNext"])
            break;
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{1000, 1000, 500}));
    EXPECT_EQ(hasNext, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(ids.size(), 2500u);
    EXPECT_TRUE(page(session, "contains=availableFonts&limit=500&offset=2000")["hasNext"] == false);

    // Synthetic fonts are distinct files, each carrying its own record.
    auto first = get("/api/v1/fonts/500001", headers(session));
    auto last = get("/api/v1/fonts/502500", headers(session));
    ASSERT_EQ(first->status, 200);
    ASSERT_EQ(last->status, 200);
    EXPECT_NE(first->body, last->body);
    EXPECT_EQ(fontid::FontIdReader::readData(last->body), (fontid::FontRecord{"502500", "1.000"}));
    EXPECT_FALSE(familyOf(last->body).empty());
    EXPECT_LT(last->body.size(), 64u * 1024) << "synthetic fonts are small";
}

TEST_F(FontTest, InvalidPagingIsRefused) {
    Session session = signIn(kUser);
    for (const char* query :
         {"contains=everything", "contains=availableFonts&limit=0",
          "contains=availableFonts&limit=-5", "contains=availableFonts&limit=x",
          "contains=availableFonts&offset=-1", "contains=availableFonts&offset=1.5"})
        EXPECT_EQ(code(get(std::string("/api/v1/install-fonts?") + query, headers(session))), 1001)
            << query;
}

TEST_F(FontTest, WithdrawnFontsMoveToTheDeletedList) {
    Session session = signIn(kUser);
    admin("/admin/fonts/withdraw", {{"mailAddress", kUser}, {"fontId", "1002"}});
    Json available = page(session, "contains=availableFonts&limit=1000&offset=0");
    Json deleted = page(session, "contains=deletedFonts&limit=1000&offset=0");
    Json both = page(session, "contains=availableFonts,deletedFonts&limit=1000&offset=0");
    EXPECT_EQ(available["fonts"].size(), 2u);
    ASSERT_EQ(deleted["fonts"].size(), 1u);
    EXPECT_EQ(deleted["fonts"][0]["fontId"], "1002");
    EXPECT_EQ(deleted["fonts"][0]["isAvailableFont"], false);
    EXPECT_EQ(both["fonts"].size(), 3u);
    EXPECT_EQ(get("/api/v1/fonts/1002", headers(session))->status, 404);

    admin("/admin/fonts/restore", {{"mailAddress", kUser}, {"fontId", "1002"}});
    EXPECT_EQ(page(session, "contains=deletedFonts&limit=1000&offset=0")["fonts"].size(), 0u);
}

TEST_F(FontTest, DownloadIsTheStampedFileUnderItsName) {
    Session session = signIn(kUser);
    Json listed = page(session, "contains=availableFonts&limit=1&offset=0")["fonts"][0];
    auto result = get("/api/v1/fonts/1001", headers(session));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/octet-stream");
    EXPECT_EQ(result->get_header_value("Content-Disposition"),
              "attachment; filename=\"" + listed["fileName"].get<std::string>() + "\"");
    EXPECT_EQ(static_cast<long long>(result->body.size()), listed["fileSize"].get<long long>());
    EXPECT_EQ(fontid::FontIdReader::readData(result->body), (fontid::FontRecord{"1001", "1.000"}));
    EXPECT_FALSE(familyOf(result->body).empty());
}

TEST_F(FontTest, DownloadRefusalsAreJsonEnvelopes) {
    Session session = signIn(kUser);
    auto unknown = get("/api/v1/fonts/999999", headers(session));
    EXPECT_EQ(unknown->status, 404);
    EXPECT_EQ(unknown->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(code(unknown), 1001);

    admin("/admin/tokens/expire", {{"mailAddress", kUser}});
    auto expired = get("/api/v1/fonts/1001", headers(session));
    EXPECT_EQ(expired->status, 400);
    EXPECT_EQ(expired->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(code(expired), 1007);
}

TEST_F(FontTest, NewVersionIsServedWithItsRecord) {
    Session session = signIn(kUser);
    Json added = admin("/admin/fonts", {{"fonts",
                                         {{{"fontId", "1001"},
                                           {"from", "1001"},
                                           {"version", "2.000"},
                                           {"fileName", "Renamed.ttf"},
                                           {"displayFontName", "Renamed"}}}}});
    EXPECT_EQ(added["fontIds"], Json::array({"1001"}));
    Json listed = page(session, "contains=availableFonts&limit=1&offset=0")["fonts"][0];
    EXPECT_EQ(listed["version"], "2.000");
    EXPECT_EQ(listed["fileName"], "Renamed.ttf");
    auto result = get("/api/v1/fonts/1001", headers(session));
    EXPECT_EQ(fontid::FontIdReader::readData(result->body), (fontid::FontRecord{"1001", "2.000"}));

    // A font added for an account appears in its list.
    admin("/admin/fonts",
          {{"mailAddress", kUser},
           {"activate", true},
           {"fonts", {{{"fontId", "7001"}, {"from", "1002"}, {"fileName", "New.ttf"}}}}});
    EXPECT_EQ(page(session, "contains=availableFonts&limit=1000&offset=0")["fonts"].size(), 4u);
    EXPECT_EQ(
        post("/admin/fonts", {{"fonts", {{{"fontId", "7002"}, {"source", "/nonexistent.ttf"}}}}})
            ->status,
        400);
}

TEST_F(FontTest, DataFolderKeepsTheFilesAndALostFileIsAnInternalError) {
    ServiceOptions options = defaultOptions();
    options.dataDir = sandbox.root() + "/data";
    restart(options);
    Session session = signIn(kUser);
    auto served = get("/api/v1/fonts/1001", headers(session));
    ASSERT_EQ(served->status, 200);
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(options.dataDir + "/fonts"))
        files.push_back(entry.path());
    ASSERT_EQ(files.size(), 3u);

    // A restart on the same folder reuses the stamped files.
    restart(options);
    session = signIn(kUser);
    EXPECT_EQ(get("/api/v1/fonts/1001", headers(session))->body, served->body);

    for (const auto& file : files)
        fs::remove(file);
    auto lost = get("/api/v1/fonts/1001", headers(session));
    EXPECT_EQ(lost->status, 500);
    EXPECT_EQ(code(lost), 2000);
}

}  // namespace
}  // namespace tavo::refservice::test
