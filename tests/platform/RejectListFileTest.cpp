#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/linux/RejectListFile.h"

namespace tavo::platform {
namespace {

using Form = RejectListFile::Form;
using Entry = RejectListFile::Entry;

constexpr const char* kFolder = "/home/u/.local/share/fonts/Oskavelle";

std::vector<Entry> entries(const std::vector<std::string>& names) {
    std::vector<Entry> out;
    for (const std::string& name : names)
        out.push_back({name, RejectListFile::isManageableName(name)});
    return out;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(RejectListFileTest, ManageableNames) {
    EXPECT_TRUE(RejectListFile::isManageableName("Brand-Bold.otf"));
    EXPECT_TRUE(RejectListFile::isManageableName("R&D <Bold>.ttf"));
    EXPECT_TRUE(RejectListFile::isManageableName("ヒラギノ角ゴ.otf"));
    EXPECT_FALSE(RejectListFile::isManageableName(""));
    EXPECT_FALSE(RejectListFile::isManageableName(".Brand.otf.tmp"));
    EXPECT_FALSE(RejectListFile::isManageableName("a*b.otf"));
    EXPECT_FALSE(RejectListFile::isManageableName("a?b.otf"));
    EXPECT_FALSE(RejectListFile::isManageableName("sub/a.otf"));
    EXPECT_FALSE(RejectListFile::isManageableName("a\nb.otf"));
    EXPECT_FALSE(RejectListFile::isManageableName("bad\xff.otf"));
}

TEST(RejectListFileTest, FormWithTheFewestGlobs) {
    const auto folder = entries({"a.otf", "b.otf", "c.otf", "d.otf", "e.otf"});
    EXPECT_EQ(RejectListFile::chooseForm({}, folder), Form::Empty);
    EXPECT_EQ(RejectListFile::chooseForm({"a.otf"}, folder), Form::PerFileRejects);
    EXPECT_EQ(RejectListFile::chooseForm({"a.otf", "b.otf", "c.otf"}, folder),
              Form::PerFileRejects);
    EXPECT_EQ(RejectListFile::chooseForm({"a.otf", "b.otf", "c.otf", "d.otf"}, folder),
              Form::FolderRejectWithAccepts);
    EXPECT_EQ(RejectListFile::chooseForm({"a.otf", "b.otf", "c.otf", "d.otf", "e.otf"}, folder),
              Form::FolderReject);
    // A hidden name whose file is gone still counts; an empty folder is all hidden.
    EXPECT_EQ(RejectListFile::chooseForm({"gone.otf"}, {}), Form::FolderReject);
}

TEST(RejectListFileTest, EntriesGlobsCannotNameBlockTheFolderForms) {
    auto folder = entries({"a.otf", "b.otf", "c.otf", "d.otf"});
    folder.push_back({"sub", false});
    EXPECT_EQ(RejectListFile::chooseForm({"a.otf", "b.otf", "c.otf", "d.otf"}, folder),
              Form::PerFileRejects);
}

TEST(RejectListFileTest, RendersEachForm) {
    const auto folder = entries({"a.otf", "b.otf", "c.otf", "d.otf", "e.otf"});
    const std::string perFile = RejectListFile::render(kFolder, {"a.otf", "b.otf"}, folder);
    EXPECT_NE(perFile.find(std::string("<glob>") + kFolder + "/a.otf</glob>"), std::string::npos);
    EXPECT_EQ(count(perFile, "<glob>"), 2u);
    EXPECT_EQ(perFile.find("<acceptfont>"), std::string::npos);

    const std::string most =
        RejectListFile::render(kFolder, {"a.otf", "b.otf", "c.otf", "d.otf"}, folder);
    EXPECT_NE(most.find(std::string("<acceptfont>\n      <glob>") + kFolder + "/e.otf</glob>"),
              std::string::npos);
    EXPECT_NE(most.find(std::string("<rejectfont>\n      <glob>") + kFolder + "/*</glob>"),
              std::string::npos);
    EXPECT_EQ(count(most, "<glob>"), 2u);

    const std::string all =
        RejectListFile::render(kFolder, {"a.otf", "b.otf", "c.otf", "d.otf", "e.otf"}, folder);
    EXPECT_EQ(count(all, "<glob>"), 1u);
    EXPECT_NE(all.find(std::string("<glob>") + kFolder + "/*</glob>"), std::string::npos);

    const std::string none = RejectListFile::render(kFolder, {}, folder);
    EXPECT_EQ(none.find("<selectfont>"), std::string::npos);
    EXPECT_NE(none.find("<fontconfig/>"), std::string::npos);
}

TEST(RejectListFileTest, FolderTailGlobs) {
    const std::string text = RejectListFile::render(kFolder, {"a.otf"}, entries({"a.otf", "b.otf"}),
                                                    RejectListFile::GlobStyle::FolderTail);
    EXPECT_NE(text.find("<glob>*/Oskavelle/a.otf</glob>"), std::string::npos);
}

TEST(RejectListFileTest, EscapesXml) {
    const std::string text =
        RejectListFile::render(kFolder, {"R&D <Bold>.ttf"}, entries({"R&D <Bold>.ttf", "x.otf"}));
    EXPECT_NE(text.find("/R&amp;D &lt;Bold&gt;.ttf</glob>"), std::string::npos);
    EXPECT_EQ(RejectListFile::escapeXml("a&b<c>d"), "a&amp;b&lt;c&gt;d");
}

TEST(RejectListFileTest, ReadsBackWhatItWrote) {
    const std::set<std::string> names{"R&D <Bold>.ttf", "a--b.otf", "trailing-",   "-leading.otf",
                                      "&#45;.otf",      "x--->y",   "ヒラギノ.otf"};
    const std::string text = RejectListFile::render(kFolder, names, {});
    // A comment may not hold "--", except its own opening and closing.
    const std::size_t listStart = text.find("tavo-hidden-files");
    const std::size_t listEnd = text.find("\n-->\n", listStart);
    ASSERT_NE(listEnd, std::string::npos);
    EXPECT_EQ(text.substr(listStart, listEnd - listStart).find("--"), std::string::npos);
    EXPECT_EQ(RejectListFile::parse(text), names);
    EXPECT_EQ(RejectListFile::parse(RejectListFile::render(kFolder, {}, {})),
              std::set<std::string>{});
}

TEST(RejectListFileTest, RefusesForeignAndDamagedFiles) {
    const std::string text = RejectListFile::render(kFolder, {"a.otf", "b.otf"}, {});
    EXPECT_FALSE(RejectListFile::parse("<fontconfig></fontconfig>"));
    EXPECT_FALSE(RejectListFile::parse(""));
    EXPECT_FALSE(RejectListFile::parse(text.substr(0, text.size() / 2)));
    EXPECT_FALSE(RejectListFile::parse(text.substr(0, text.find("b.otf") + 2)));
    std::string badEscape = text;
    badEscape.replace(badEscape.find("a.otf"), 1, "&x;");
    EXPECT_FALSE(RejectListFile::parse(badEscape));
}

}  // namespace
}  // namespace tavo::platform
