// libFuzzer target for the property-list reader. Every input is read as it
// is (an XML or a binary property list, by its first bytes) and once more
// behind the binary header, so mutations reach the binary reader even from
// XML seeds. What is read must be writable as XML, that XML must read back,
// and writing what was read back gives the same XML again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "foundation/PlistValue.h"

namespace {

using tavo::PlistValue;

void check(std::string_view bytes) {
    const auto value = PlistValue::parse(bytes);
    if (!value)
        return;
    (void)value->text();
    const std::string xml = value->toXml();
    const auto again = PlistValue::parse(xml);
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->toXml() == xml);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check(bytes);
    if (!bytes.starts_with("bplist00"))
        check(std::string("bplist00").append(bytes));
    return 0;
}
