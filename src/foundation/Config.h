#pragma once

#include <functional>
#include <optional>
#include <string>

#include "foundation/ConfigKeys.h"
#include "foundation/Error.h"
#include "foundation/PlistValue.h"

namespace tavo {

// Readers and writers of the three property-list files of a signed-in user.
// Nothing is cached: a caller reads a whole file, changes keys and writes the
// whole file back. A file that cannot be parsed reads as missing.
//
// Each reader can say why it has nothing: error then holds the system's
// error (ENOENT for a missing file, EACCES, EISDIR...) or, for a file that is
// no property-list dictionary, kPropertyListReadCorruptError; its description
// names the file. A file that is there but cannot be used is also logged at
// error level; a missing one is not (it is the state before a sign-in).
class Config {
public:
    static constexpr long kPropertyListReadCorruptError = 3840;

    static std::optional<PlistDict> userConfig(Error* error = nullptr);
    static std::optional<std::string> userConfigPath();
    static std::optional<PlistDict> serverConfig(Error* error = nullptr);
    static std::optional<std::string> serverConfigPath();
    static std::optional<PlistDict> fontList(Error* error = nullptr);
    static std::optional<std::string> fontListPath();

    // Writes a fresh user configuration that keeps the update state of the
    // previous one and drops its sign-in data.
    static void createConfigPlist(const std::optional<PlistData>& deviceKey);
    // Creates an empty font list unless one exists (even an unreadable one).
    static void createFontPlist();
    // True when written. error, when given, is only quoted in the failure line.
    static bool writeToUserConfig(const PlistDict& dict, bool atomically, const Error* error);
    static bool writeFontList(const PlistDict& fontList);
    // The font list as a property-list document written already.
    static bool writeFontListDocument(const std::string& document);
    // Reads the user configuration, lets change edit it and writes it back,
    // all under one process-wide lock, so two threads changing different
    // keys never lose each other's change. False when there is no readable
    // configuration (none is created) or it could not be written.
    static bool updateUserConfig(const std::function<void(PlistDict&)>& change);
    // Applies the log mode of the debug marker file.
    static bool setAppLogMode();

    // A text value of the user configuration: data is decrypted, text is
    // taken as it stands; none when absent or undecryptable.
    static std::optional<std::string> decryptedValue(const PlistDict& dict, const std::string& key);

    // The server addresses: TAVO.server.plist, else the built-in ones.
    static std::string deliveServerName();
    static std::string noticeServerName();
};

}  // namespace tavo
