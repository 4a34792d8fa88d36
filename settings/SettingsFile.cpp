#include "SettingsFile.h"

#include "AsciiCase.h"
#include "IniFile.h"
#include "IniText.h"
#include "IntegerConversion.h"
#include "SettingsError.h"

#include <optional>
#include <string>

namespace {

constexpr const char *kSection = "SETTINGS";
constexpr const char *kNamesSection = "DEVICE NAMES";
// By DeviceSlot; a bus path's key adds kPathSuffix.
constexpr const char *kSlotKeys[kDeviceSlots] = {"INPUT1", "INPUT2", "INPUT3", "OUTPUT"};
constexpr const char *kPathSuffix = "_PATH";

// How the file numbers the listening states (its own numbering, not the
// program's) and the second radio. Each table is read both ways; a value
// missing from a table is written as 0, and a code missing from it is read as
// nothing. ddSwap is not stored: it is written as 0, which reads back ddCenter.
template <typename State> struct FileCode {
    State state;
    std::int32_t code;
};

constexpr FileCode<TSO2RState> kModeCodes[] = {
    {ddCenter, 0}, {ddLeft, 1}, {ddRight, 2}, {ddMute, 3}, {ddOff, 4}};
constexpr FileCode<TSO3RState> kSO3RCodes[] = {{ddRadio2, 2}, {ddRadio3, 3}};

template <typename State, std::size_t N>
std::int32_t codeOf(const FileCode<State> (&table)[N], State state)
{
    for (const auto &entry : table)
        if (entry.state == state)
            return entry.code;
    return 0;
}

template <typename State, std::size_t N>
std::optional<State> stateOf(const FileCode<State> (&table)[N], std::int32_t code)
{
    for (const auto &entry : table)
        if (entry.code == code)
            return entry.state;
    return std::nullopt;
}

} // namespace

void SettingsFile::Locate(const std::filesystem::path &workingDirectory,
                          const std::vector<std::string> &arguments)
{
    std::string candidate;
    if (arguments.size() > 1 && upperCased(arguments[0]) == "-F")
        candidate = arguments[1];
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
    if (const auto state = stateOf(kModeCodes, integer("MODE", "0")))
        target.SetSO2R(*state);
    if (const auto radio = stateOf(kSO3RCodes, integer("SO3R", "2")))
        target.SetSO3R(*radio);
    DeviceIdentities identities;
    for (std::size_t slot = 0; slot < kDeviceSlots; ++slot) {
        const std::string key = kSlotKeys[slot];
        identities[slot] = {file.readString(kNamesSection, key, ""),
                            file.readString(kNamesSection, key + kPathSuffix, "")};
    }
    target.setDeviceIdentities(identities);
}

void SettingsFile::WriteINI(const SettingsValues &values)
{
    if (iniFileName_.empty())
        Locate(std::filesystem::current_path(), {});
    IniFile file(iniFileName_);
    const auto writeText = [&](const char *section, const std::string &key,
                               const std::string &value) {
        if (!file.writeString(section, key, value))
            throw SettingsError("Unable to write to " + iniFileName_.string());
    };
    const auto write = [&](const char *key, std::int32_t value) {
        writeText(kSection, key, std::to_string(value));
    };
    write("INPUT1", values.input1Device);
    write("INPUT2", values.input2Device);
    write("INPUT3", values.input3Device);
    write("OUTPUT", values.outputDevice);
    write("MODE", codeOf(kModeCodes, values.so2r));
    write("SO3R", codeOf(kSO3RCodes, values.so3r));
    // A server's name that the file cannot hold (blank-edged, quoted, a line
    // break) is stored as none: the number alone then names the device.
    const auto writeName = [&](const std::string &key, const std::string &name) {
        writeText(kNamesSection, key, IniText::canHold(name) ? name : std::string());
    };
    for (std::size_t slot = 0; slot < kDeviceSlots; ++slot)
        writeName(kSlotKeys[slot], values.identities[slot].name);
    for (std::size_t slot = 0; slot < kDeviceSlots; ++slot)
        writeName(std::string(kSlotKeys[slot]) + kPathSuffix, values.identities[slot].busPath);
}
