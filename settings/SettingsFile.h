#pragma once

#include "DeviceIdentity.h"
#include "ListeningState.h"
#include "SettingsTarget.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The values the settings file keeps, as the main window holds them.
struct SettingsValues {
    std::int32_t input1Device = -1;
    std::int32_t input2Device = -1;
    std::int32_t input3Device = -1;
    std::int32_t outputDevice = -1;
    TSO2RState so2r = ddOff;
    TSO3RState so3r = ddRadio2;
    DeviceIdentities identities;
};

// The settings file: section SETTINGS with the keys INPUT1, INPUT2, INPUT3,
// OUTPUT, MODE and SO3R, every value a signed decimal integer. The listening
// state is stored as its MODE code (ddCenter 0, ddLeft 1, ddRight 2, ddMute 3,
// ddOff 4; ddSwap as 0), the second radio as 2 or 3. Section DEVICE NAMES keeps
// beside them each device's identity: keys INPUT1, INPUT2, INPUT3 and OUTPUT
// hold the server's names (empty for the default device), INPUT1_PATH to
// OUTPUT_PATH their bus paths (empty where the server gives none). Used on the
// user-interface thread only.
class SettingsFile {
  public:
    static constexpr const char *kDefaultName = "KALDRA.INI";

    // Sets IniFileName from the working directory and the program's arguments
    // (without the program's own name): "-F NAME" as the first two arguments,
    // the flag in any case, names the file NAME, taken relative to the working
    // directory unless it is absolute, its case kept; otherwise, and when NAME
    // is missing or empty, the file is KALDRA.INI in the working directory.
    void Locate(const std::filesystem::path &workingDirectory,
                const std::vector<std::string> &arguments);

    // The full path of the settings file; empty until located.
    const std::filesystem::path &IniFileName() const { return iniFileName_; }

    // Applies the file to `target` key by key in the order above; a missing
    // file, section or key gives the defaults -1 for the devices, MODE 0 and
    // SO3R 2. A MODE other than 0 to 4 and a SO3R other than 2 or 3 skip their
    // call. A value that does not convert throws SettingsError ("'%s' is not a
    // valid integer value") and ends the reading there: the values applied
    // before it stay applied. Then the identities, all empty when the file has
    // no DEVICE NAMES section.
    void Read(SettingsTarget &target) const;

    // Writes the six keys in the order above, then the eight of DEVICE NAMES,
    // each its own atomic write to the disk, every other line of the file kept. Locates the default
    // file in the current working directory first when IniFileName is empty. A refused write
    // (read-only file, missing folder) throws SettingsError "Unable to write to %s" with the full
    // path, leaving the keys before it written.
    void WriteINI(const SettingsValues &values);

  private:
    std::filesystem::path iniFileName_;
};
