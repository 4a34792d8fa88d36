// Feeds arbitrary bytes to the integer conversion and, as the contents of a
// settings file, to the INI reader and writer, checking what must always hold.

#include "IniText.h"
#include "IntegerConversion.h"
#include "SettingsError.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void fuzzConversion(std::string_view text)
{
    try {
        const std::int32_t value = convertToInteger(text);
        require(convertToInteger(std::to_string(value)) == value);
    } catch (const SettingsError &) {
    }
}

// A write changes its own key and no other. One-letter names, so that the
// fuzzer soon builds texts that hold them.
void fuzzIni(std::string_view contents)
{
    IniText text{std::string(contents)};
    const auto otherKey = text.value("S", "L");
    const auto otherSection = text.value("O", "K");
    text.setValue("s", "k", "123");
    require(text.value("S", "K") == "123");
    require(text.value("S", "L") == otherKey);
    require(text.value("O", "K") == otherSection);

    const std::string written = text.text();
    text.setValue("S", "K", "123");
    require(text.text() == written);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    fuzzConversion(input);
    fuzzIni(input);
    return 0;
}
