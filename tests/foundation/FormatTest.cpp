#include <gtest/gtest.h>

#include "foundation/Error.h"
#include "foundation/Format.h"

using tavo::format;

TEST(Format, PrintfConversionsAndObjectPlaceholders) {
    EXPECT_EQ(format("code %ld: message: %@", 1007L, "expired"), "code 1007: message: expired");
    EXPECT_EQ(format("%08x", 0xa1b3u), "0000a1b3");
    EXPECT_EQ(format("%s:%ld %s %@", "main", 7L, "-[Log init]", "start"), "main:7 -[Log init] start");
    EXPECT_EQ(format("%d%%", 50), "50%");
    EXPECT_EQ(format("%.2f", 0.5), "0.50");
    EXPECT_EQ(format("%@ %@", true, 3), "YES 3");
}

TEST(Format, MismatchedOrMissingArgumentsAreSafe) {
    // A conversion letter that does not fit the argument renders the argument.
    EXPECT_EQ(format("%d", "text"), "text");
    EXPECT_EQ(format("%s", 12), "12");
    EXPECT_EQ(format("%@ and %@", "one"), "one and ");
    EXPECT_EQ(format("50%"), "50%");
    EXPECT_EQ(format("%q", 1), "%q");
}

TEST(Format, ErrorsRenderAsText) {
    const tavo::Error error{2, "NSPOSIXErrorDomain", "No such file"};
    EXPECT_EQ(format("[%@]", error), "[Error Domain=NSPOSIXErrorDomain Code=2 \"No such file\"]");
}
