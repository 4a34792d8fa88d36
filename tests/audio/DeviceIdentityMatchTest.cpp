#include "DeviceIdentityMatch.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

AudioDeviceInfo device(const char *description, const char *name, const char *busPath)
{
    return {description, name, busPath, 0};
}

TEST(DeviceIdentityMatch, FindsTheStoredCardWhereverItStandsNow)
{
    const char *codec = "USB Audio CODEC";
    // Two identical codecs whose server names swapped after a re-plug; a
    // monitor shares the bus path of its card's input; one card without a
    // bus path.
    const std::vector<AudioDeviceInfo> devices = {
        device("Webcam", "alsa_input.webcam", ""),
        device("Monitor of Codec out", "codec-out.monitor", "usb-0:2"),
        device(codec, "codec", "usb-0:3"),
        device(codec, "codec.2", "usb-0:2"),
        device("Radio 1", "radio1.monitor", ""),
    };
    struct Case {
        const char *what;
        DeviceIdentity stored;
        std::optional<int> found;
    } cases[] = {
        {"name and its bus path", {"codec", "usb-0:3"}, 2},
        {"the port of a codec whose name moved", {"codec", "usb-0:2"}, 3},
        {"the port of the other one", {"codec.2", "usb-0:3"}, 2},
        {"name alone where the server gives no bus path", {"radio1.monitor", ""}, 4},
        {"the name where no card of its kind has the port", {"codec", "usb-0:9"}, 2},
        {"the name when the stored bus path is gone", {"radio1.monitor", "pci-1"}, 4},
        {"never a port alone", {"gone", "usb-0:2"}, std::nullopt},
        {"nothing for the default device", {"", ""}, std::nullopt},
        {"nothing for a card that is gone", {"codec.3", ""}, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(findDevice(devices, c.stored), c.found) << c.what;
    EXPECT_EQ(findDevice({}, {"codec", "usb-0:3"}), std::nullopt);
}

} // namespace
