#include <gtest/gtest.h>
#include <plist/plist.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/Bundle.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;

namespace tavo::platform {
namespace {

std::string xmlInfo(const std::string& name, const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>\n"
           "<key>CFBundleName</key><string>" +
           name +
           "</string>\n"
           "<key>CFBundleExecutable</key><string>" +
           name +
           "</string>\n"
           "<key>CFBundleIdentifier</key><string>example." +
           name +
           "</string>\n"
           "<key>CFBundleShortVersionString</key><string>" +
           version +
           "</string>\n"
           "<key>CFBundleVersion</key><string>42</string>\n"
           "<key>LSMinimumSystemVersion</key><integer>12</integer>\n"
           "<key>NSHighResolutionCapable</key><true/>\n"
           "</dict></plist>\n";
}

class BundleTest : public test::SandboxTest {
protected:
    void TearDown() override { Bundle::setMainBundlePath({}); }

    // <root>/Applications/<name>.app with the given Info.plist content.
    std::string makeApp(const std::string& name, const std::string& info) {
        const std::string app = sandbox.path("/Applications/" + name + ".app");
        fs::create_directories(app + "/Contents/MacOS");
        fs::create_directories(app + "/Contents/Resources");
        test::Sandbox::writeFile(app + "/Contents/Info.plist", info);
        return app;
    }
};

TEST_F(BundleTest, ReadsXmlInfoAndPlacesOfAFakeBundle) {
    const std::string app = makeApp("Fake", xmlInfo("Fake", "3.4.5"));
    const Bundle bundle(app + "/");

    EXPECT_EQ(bundle.bundlePath(), app);
    EXPECT_EQ(bundle.name(), "Fake");
    EXPECT_EQ(bundle.identifier(), "example.Fake");
    EXPECT_EQ(bundle.shortVersion(), "3.4.5");
    EXPECT_EQ(bundle.version(), "42");
    EXPECT_EQ(bundle.contentsPath(), app + "/Contents");
    EXPECT_EQ(bundle.resourcePath(), app + "/Contents/Resources");
    EXPECT_EQ(bundle.executableFolderPath(), app + "/Contents/MacOS");
    EXPECT_EQ(bundle.executablePath(), app + "/Contents/MacOS/Fake");
    // Only string values are kept.
    EXPECT_EQ(bundle.infoValue("LSMinimumSystemVersion"), "");
    EXPECT_EQ(bundle.infoValue("NSHighResolutionCapable"), "");
    EXPECT_EQ(bundle.infoValue("NoSuchKey"), "");
}

TEST_F(BundleTest, ReadsBinaryInfo) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "CFBundleName", plist_new_string("Binary"));
    plist_dict_set_item(dict, "CFBundleShortVersionString", plist_new_string("9.0"));
    char* data = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &data, &length);
    plist_free(dict);
    ASSERT_NE(data, nullptr);
    const std::string bytes(data, length);
    std::free(data);
    ASSERT_EQ(bytes.rfind("bplist", 0), 0u);

    const Bundle bundle(makeApp("Binary", bytes));
    EXPECT_EQ(bundle.name(), "Binary");
    EXPECT_EQ(bundle.shortVersion(), "9.0");
}

TEST_F(BundleTest, MissingOrBrokenInfoLeavesEveryValueEmpty) {
    for (const std::string& content :
         {std::string(), std::string("not a plist <<<"),
          std::string("<plist><array><string>x</string></array></plist>")}) {
        SCOPED_TRACE(content);
        const Bundle bundle(makeApp("Broken", content));
        EXPECT_EQ(bundle.name(), "");
        EXPECT_EQ(bundle.executablePath(), "");
    }
    const Bundle missing(sandbox.path("/Applications/Missing.app"));
    EXPECT_EQ(missing.version(), "");
    EXPECT_EQ(missing.contentsPath(), sandbox.path("/Applications/Missing.app/Contents"));
}

TEST_F(BundleTest, EmptyBundleHasNoPlaces) {
    const Bundle none{std::string()};
    EXPECT_EQ(none.contentsPath(), "");
    EXPECT_EQ(none.resourcePath(), "");
    EXPECT_EQ(none.executableFolderPath(), "");
    EXPECT_EQ(none.executablePath(), "");
}

TEST_F(BundleTest, ContainingFindsTheBundleOnlyForContentsMacOS) {
    const std::string app = makeApp("Holder", xmlInfo("Holder", "1.0"));
    const auto found = Bundle::containing(app + "/Contents/MacOS/Holder");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->bundlePath(), app);
    EXPECT_EQ(found->name(), "Holder");

    const auto normalised = Bundle::containing(app + "/Contents/Resources/../MacOS/./tool");
    ASSERT_NE(normalised, nullptr);
    EXPECT_EQ(normalised->bundlePath(), app);

    for (const std::string& outside :
         {std::string(), std::string("/usr/bin/tool"), app + "/Contents/Resources/tool",
          app + "/MacOS/tool", sandbox.path("/Holder/Contents/MacOS/Holder"),
          sandbox.path("/.app/Contents/MacOS/x"), app + "/Contents/MacOS/"}) {
        SCOPED_TRACE(outside);
        EXPECT_EQ(Bundle::containing(outside), nullptr);
    }
}

TEST_F(BundleTest, MainBundleFollowsSetPathAndFallsBackToTheExecutable) {
    const std::string app = makeApp("Main", xmlInfo("Main", "5.0"));
    Bundle::setMainBundlePath(app);
    ASSERT_NE(Bundle::mainBundle(), nullptr);
    EXPECT_EQ(Bundle::mainBundle()->bundlePath(), app);
    EXPECT_EQ(Bundle::mainBundle()->shortVersion(), "5.0");

    // The test program lies in no bundle: the main bundle is empty, never null.
    Bundle::setMainBundlePath({});
    const auto main = Bundle::mainBundle();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->bundlePath(), "");
    EXPECT_EQ(main->name(), "");
}

TEST_F(BundleTest, MainBundleIsSafeToReadWhileItIsSwitched) {
    const std::string a = makeApp("A", xmlInfo("A", "1"));
    const std::string b = makeApp("B", xmlInfo("B", "2"));
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!stop) {
                const auto bundle = Bundle::mainBundle();
                const std::string name = bundle->name();
                if (bundle->bundlePath() == a && name != "A")
                    ++bad;
                if (bundle->bundlePath() == b && name != "B")
                    ++bad;
            }
        });
    for (int i = 0; i < 200; ++i)
        Bundle::setMainBundlePath(i % 2 ? a : b);
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(bad, 0);
}

TEST(BuiltBundleTest, TavoBundleCarriesTheBuildsNamesAndVersions) {
    const std::string dir = test::bundlesDirectory();
    if (dir.empty())
        GTEST_SKIP() << "TAVO_TEST_BUNDLES is not set (run through ctest)";
    const Bundle bundle(dir + "/TAVO.app");
    EXPECT_EQ(bundle.name(), "TAVO");
    EXPECT_EQ(bundle.identifier(), "oskavelle.TAVO");
    EXPECT_EQ(bundle.shortVersion(), TAVO_VERSION);
    EXPECT_EQ(bundle.version(), TAVO_BUILD_NUMBER);
    EXPECT_EQ(bundle.executablePath(), dir + "/TAVO.app/Contents/MacOS/TAVO");
}

}  // namespace
}  // namespace tavo::platform
