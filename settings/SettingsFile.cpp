#include "SettingsFile.h"

#include "IniFile.h"
#include "IntegerConversion.h"
#include "SettingsError.h"

#include <optional>
#include <string>

namespace {

constexpr const char *kSection = "SETTINGS";

// The file's numbering of the listening states differs from the program's own.
int modeCode(TSO2RState state)
{
    switch (state) {
    case ddLeft:
        return 1;
    case ddRight:
        return 2;
    case ddMute:
        return 3;
    case ddOff:
        return 4;
    case ddCenter:
    case ddSwap:
        break;
    }
    return 0;
}

std::optional<TSO2RState> stateOfMode(std::int32_t code)
{
    switch (code) {
    case 0:
        return ddCenter;
    case 1:
        return ddLeft;
    case 2:
        return ddRight;
    case 3:
        return ddMute;
    case 4:
        return ddOff;
    default:
        return std::nullopt;
    }
}

int so3rCode(TSO3RState radio)
{
    switch (radio) {
    case ddRadio2:
        return 2;
    case ddRadio3:
        return 3;
    }
    return 0;
}

std::optional<TSO3RState> radioOfSO3R(std::int32_t code)
{
    switch (code) {
    case 2:
        return ddRadio2;
    case 3:
        return ddRadio3;
    default:
        return std::nullopt;
    }
}

} // namespace

void SettingsFile::Locate(const std::filesystem::path &workingDirectory,
                          const std::vector<std::string> &arguments)
{
    std::string candidate;
    if (!arguments.empty() && upperCased(arguments[0]) == "-F" && arguments.size() > 1) {
        candidate = arguments[1];
    }
    // An absolute candidate replaces the directory: it names the file the
    // operator meant.
    iniFileName_ = workingDirectory / (candidate.empty() ? kDefaultName : candidate);
}

void SettingsFile::Read(SettingsTarget &target) const
{
    const IniFile file(iniFileName_);
    const auto integer = [&](const char *key, const char *defaultValue) {
        return convertToInteger(file.readString(kSection, key, defaultValue));
    };
    target.setInput1Device(integer("INPUT1", "-1"));
    target.setInput2Device(integer("INPUT2", "-1"));
    target.setInput3Device(integer("INPUT3", "-1"));
    target.setOutputDevice(integer("OUTPUT", "-1"));
    if (const auto state = stateOfMode(integer("MODE", "0"))) {
        target.SetSO2R(*state);
    }
    if (const auto radio = radioOfSO3R(integer("SO3R", "2"))) {
        target.SetSO3R(*radio);
    }
}

void SettingsFile::WriteINI(const SettingsValues &values)
{
    if (iniFileName_.empty()) {
        Locate(std::filesystem::current_path(), {});
    }
    IniFile file(iniFileName_);
    const auto write = [&](const char *key, std::int32_t value) {
        if (!file.writeString(kSection, key, std::to_string(value))) {
            throw SettingsError("Unable to write to " + iniFileName_.string());
        }
    };
    write("INPUT1", values.input1Device);
    write("INPUT2", values.input2Device);
    write("INPUT3", values.input3Device);
    write("OUTPUT", values.outputDevice);
    write("MODE", modeCode(values.so2r));
    write("SO3R", so3rCode(values.so3r));
}
