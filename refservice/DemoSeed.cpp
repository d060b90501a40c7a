#include "refservice/DemoSeed.h"

namespace tavo::refservice {

nlohmann::json DemoSeed::seed() {
    const nlohmann::json limitDevices = {{{"deviceId", "DEMO0000000000A1"},
                                          {"hostname", "office-imac"},
                                          {"osUserName", "alex"},
                                          {"osType", "Mac"},
                                          {"osVersion", "13.4"}},
                                         {{"deviceId", "DEMO0000000000A2"},
                                          {"hostname", "studio-macbook"},
                                          {"osUserName", "alex"},
                                          {"osType", "Mac"},
                                          {"osVersion", "14.1"}}};
    return {{"systemFonts", {{"firstFontId", 1001}, {"version", "1.000"}}},
            {"accounts",
             {{{"mailAddress", kMailAddress},
               {"password", kPassword},
               {"firstName", "Demo"},
               {"lastName", "Subscriber"},
               {"contractIds", {"demo-contract"}},
               {"notice", {{"total", 1}, {"existsLatestNotice", true}}},
               {"fonts", "all"},
               {"activateAll", true}},
              {{"mailAddress", kTwoFactorMailAddress},
               {"password", kPassword},
               {"firstName", "Second"},
               {"lastName", "Factor"},
               {"twoFactorCode", kTwoFactorCode},
               {"contractIds", {"demo-contract"}},
               {"fonts", "all"}},
              {{"mailAddress", kLockedMailAddress},
               {"password", kPassword},
               {"firstName", "Locked"},
               {"lastName", "Out"},
               {"locked", true}},
              {{"mailAddress", kLimitMailAddress},
               {"password", kPassword},
               {"firstName", "Device"},
               {"lastName", "Limit"},
               {"maxDevices", 2},
               {"contractIds", {"demo-contract"}},
               {"devices", limitDevices},
               {"fonts", "all"}}}}};
}

std::string DemoSeed::credentialsText() {
    return std::string("demo accounts (password ") + kPassword + "):\n" + "  " + kMailAddress +
           "  subscriber with the fonts installed on this machine\n" + "  " +
           kTwoFactorMailAddress + "  asks for the two-factor code " + kTwoFactorCode + "\n" +
           "  " + kLockedMailAddress + "  locked\n" + "  " + kLimitMailAddress +
           "  already uses its 2 devices\n";
}

}  // namespace tavo::refservice
