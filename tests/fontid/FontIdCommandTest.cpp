#include <gtest/gtest.h>

#include <sstream>

#include "apps/tavoctl/FontIdCommand.h"
#include "fontid/FontFile.h"
#include "fontid/FontStamper.h"
#include "fontid/TestFonts.h"
#include "support/Sandbox.h"

namespace tavo {
namespace {

class FontIdCommandTest : public tavo::test::SandboxTest {
protected:
    std::string stampedFile(const std::string& name, const fontid::FontRecord& record) {
        const std::optional<std::string> font = fontid::test::findSystemFont();
        if (!font)
            return {};
        const std::string path = sandbox.path("/fonts/" + name);
        tavo::test::Sandbox::writeFile(
            path, *fontid::FontStamper::stamp(*fontid::FontFile::read(*font), record));
        return path;
    }
};

TEST_F(FontIdCommandTest, PrintsOneLinePerFileAndFailsOnlyForUnreadableFiles) {
    const std::string font = stampedFile("a.ttf", {"1234", "2.001"});
    if (font.empty())
        GTEST_SKIP() << "fontconfig lists no single-face TrueType/OpenType font";
    const std::string plain = sandbox.path("/fonts/plain.txt");
    tavo::test::Sandbox::writeFile(plain, "hello");

    std::ostringstream out;
    EXPECT_EQ(runFontIdCommand({font, plain}, out), 0);
    EXPECT_EQ(out.str(), font + ": service font, fontId 1234, version 2.001\n" + plain +
                             ": not a service font\n");

    std::ostringstream withMissing;
    const std::string missing = sandbox.path("/fonts/missing.ttf");
    EXPECT_EQ(runFontIdCommand({missing, font}, withMissing), 1);
    EXPECT_EQ(withMissing.str(), missing + ": not a service font\n" + font +
                                     ": service font, fontId 1234, version 2.001\n");
}

TEST_F(FontIdCommandTest, ARecordCannotForgeLines) {
    const std::string font = stampedFile("b.ttf", {"1\nx: service font", "2\x1b[31m"});
    if (font.empty())
        GTEST_SKIP() << "fontconfig lists no single-face TrueType/OpenType font";
    std::ostringstream out;
    EXPECT_EQ(runFontIdCommand({font}, out), 0);
    EXPECT_EQ(out.str(),
              font + ": service font, fontId 1\\x0ax: service font, version 2\\x1b[31m\n");
}

TEST_F(FontIdCommandTest, WithoutFilesPrintsUsage) {
    std::ostringstream out;
    EXPECT_EQ(runFontIdCommand({}, out), 2);
    EXPECT_EQ(out.str(), "usage: tavoctl fontid FILE...\n");
}

}  // namespace
}  // namespace tavo
