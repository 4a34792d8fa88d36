#include "OtrspDevice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int A = 1; // the clients, in the order they come
constexpr int B = 2;

struct Step {
    int client;
    const char *line;
    std::string answer;
    std::optional<RemoteRoute> route = std::nullopt;
    std::vector<std::pair<int, std::string>> events = {};
};

std::vector<std::pair<int, std::string>> flat(const std::vector<OtrspEvent> &events)
{
    std::vector<std::pair<int, std::string>> pairs;
    for (const OtrspEvent &event : events)
        pairs.emplace_back(event.client, event.text);
    return pairs;
}

void run(OtrspDevice &device, const std::vector<Step> &steps)
{
    for (const Step &step : steps) {
        SCOPED_TRACE(step.line);
        const OtrspOutcome outcome = device.handleLine(step.client, step.line);
        EXPECT_EQ(outcome.answer, step.answer);
        EXPECT_EQ(outcome.route, step.route);
        EXPECT_EQ(flat(outcome.events), step.events);
    }
}

class OtrspDeviceTest : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(device.addClient(), A);
        ASSERT_EQ(device.addClient(), B);
    }
    OtrspDevice device;
};

TEST_F(OtrspDeviceTest, AnswersQueriesAndKeepsState)
{
    run(device, {
                    {A, "?", "?\r"},
                    {A, "?NAME", "NAMEKALDRA\r"},
                    {A, "?name", "NAMEKALDRA\r"},
                    {A, "?RX", "RX1S\r"},
                    {A, "RX2", "", RemoteRoute::Rig2},
                    {A, "?RX", "RX2\r"},
                    {A, "rx1", "", RemoteRoute::Rig1},
                    {B, "?rx", "RX1\r"},
                    {A, "RX2S", "", RemoteRoute::Stereo},
                    {A, "?RX", "RX2S\r"},
                    {A, "RX1s", "", RemoteRoute::Stereo},
                    {A, "?RX", "RX1S\r"},
                    {A, "RX2R", "", RemoteRoute::Reverse},
                    {A, "?RX", "RX2R\r"},
                    {A, "RX1R", "", RemoteRoute::Reverse},
                    {A, "?RX", "RX1R\r"},
                    {A, "?TX", "TX1\r"},
                    {A, "tx2", ""},
                    {B, "?TX", "TX2\r"},
                    {A, "AUX17", ""},
                    {A, "AUX2255", ""},
                    {A, "AUX1256", ""},
                    {A, "AUX2x", ""},
                    {B, "?AUX1", "AUX17\r"},
                    {B, "?AUX2", "AUX2255\r"},
                    {A, "?VLATCH", "VLATCH0\r"},
                    {A, "vlatch1", ""},
                    {A, "VMONO1", ""},
                    {B, "?VLATCH", "VLATCH1\r"},
                    {B, "?VMONO", "VMONO1\r"},
                    {A, "VMONO0", ""},
                    {A, "?VMONO", "VMONO0\r"},
                    {A, "RX3", ""},
                    {A, "RX1X", ""},
                    {A, "HELLO", ""},
                    {A, "", ""},
                    {A, "?RX", "RX1R\r"},
                });
    EXPECT_EQ(device.transmitFocus(), 2);
    EXPECT_TRUE(device.latch());
    EXPECT_FALSE(device.mono());
}

TEST_F(OtrspDeviceTest, KaldrasOwnCommandsAskForToggles)
{
    const OtrspOutcome mute = device.handleLine(A, "vmute");
    const OtrspOutcome power = device.handleLine(A, "VPOWER");
    const OtrspOutcome focus = device.handleLine(A, "TX2");
    EXPECT_TRUE(mute.muteToggle && !mute.powerToggle);
    EXPECT_TRUE(power.powerToggle && !power.muteToggle);
    EXPECT_EQ(focus.transmitFocus, 2);
}

TEST_F(OtrspDeviceTest, EventsGoToEachClientThatAskedForThem)
{
    run(device, {
                    {B, "ERX1", ""},
                    {A, "RX2", "", RemoteRoute::Rig2, {{B, "$RX2\r"}}},
                    {B, "RX1", "", RemoteRoute::Rig1},
                    {A, "ERX1", ""},
                    {B, "RX2S", "", RemoteRoute::Stereo, {{A, "$RX2S\r"}}},
                    {B, "TX2", ""},
                    {A, "ETX1", ""},
                    {B, "TX1", "", std::nullopt, {{A, "$TX1\r"}}},
                    {B, "ERX0", ""},
                    {A, "ETX0", ""},
                    {A, "RX1R", "", RemoteRoute::Reverse},
                    {B, "TX2", ""},
                });
}

TEST_F(OtrspDeviceTest, OperatorsRouteIsAnEventAndKeepsTheFocusDigit)
{
    using Events = std::vector<std::pair<int, std::string>>;
    device.handleLine(A, "ERX1");
    device.handleLine(B, "RX1");
    EXPECT_TRUE(device.showRoute(RemoteRoute::Stereo, false).empty());
    EXPECT_EQ(device.handleLine(B, "?RX").answer, "RX1S\r");
    EXPECT_EQ(flat(device.showRoute(RemoteRoute::Reverse, true)), (Events{{A, "$RX1R\r"}}));
    EXPECT_EQ(flat(device.showRoute(RemoteRoute::Rig2, true)), (Events{{A, "$RX2\r"}}));
    EXPECT_EQ(flat(device.showRoute(RemoteRoute::Stereo, true)), (Events{{A, "$RX2S\r"}}));

    device.removeClient(A);
    EXPECT_TRUE(device.showRoute(RemoteRoute::Rig1, true).empty());
    EXPECT_EQ(device.routeCommand(), "RX1");
}

} // namespace
