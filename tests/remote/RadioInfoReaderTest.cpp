#include "RadioInfoReader.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <optional>
#include <string>

namespace {

QByteArray radioInfo(const char *stereo, int focus, int active = 1,
                     const char *transmitting = "False")
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<RadioInfo>\r\n"
                          "\t<app>N1MM</app>\r\n\t<RadioNr>1</RadioNr>\r\n"
                          "\t<IsTransmitting>%4</IsTransmitting>\r\n"
                          "\t<ActiveRadioNr>%3</ActiveRadioNr>\r\n\t<IsStereo>%1</IsStereo>\r\n"
                          "\t<FocusRadioNr>%2</FocusRadioNr>\r\n</RadioInfo>\r\n")
        .arg(QLatin1String(stereo))
        .arg(focus)
        .arg(active)
        .arg(QLatin1String(transmitting))
        .toUtf8();
}

struct DatagramCase {
    const char *what;
    QByteArray datagram;
    std::optional<RemoteRoute> route;
    bool problem = false;
};

TEST(RadioInfoReaderTest, ActsOnlyWhenTheImpliedRouteChanges)
{
    const DatagramCase steps[] = {
        {"first datagram acts", radioInfo("False", 1), RemoteRoute::Rig1},
        {"same again", radioInfo("False", 1), std::nullopt},
        {"other fields only", radioInfo("False", 1, 2, "True"), std::nullopt},
        {"focus 2", radioInfo("False", 2), RemoteRoute::Rig2},
        {"stereo", radioInfo("true", 2), RemoteRoute::Stereo},
        {"stereo, focus moved", radioInfo("True", 1), std::nullopt},
        {"malformed", "<RadioInfo><IsStereo>False</IsStereo><FocusRadioNr>2", std::nullopt, true},
        {"not XML", "\x01\x02garbage", std::nullopt, true},
        {"too long", QByteArray(64 * 1024, '<'), std::nullopt, true},
        {"another packet", "<contactinfo><call>XX1X</call></contactinfo>", std::nullopt},
        {"still stereo", radioInfo("True", 1), std::nullopt},
        {"focus 1", radioInfo("False", 1), RemoteRoute::Rig1},
        {"no focus", "<RadioInfo><IsStereo>False</IsStereo></RadioInfo>", std::nullopt},
        {"focus 1 again acts", radioInfo("False", 1), RemoteRoute::Rig1},
    };
    RadioInfoReader reader;
    for (const DatagramCase &step : steps) {
        SCOPED_TRACE(step.what);
        const RadioInfoReader::Outcome outcome = reader.read(step.datagram);
        EXPECT_EQ(outcome.route, step.route);
        EXPECT_EQ(!outcome.problem.isEmpty(), step.problem);
    }
}

TEST(RadioInfoReaderTest, KeepsActiveRadioAndTransmitting)
{
    RadioInfoReader reader;
    EXPECT_EQ(reader.activeRadio(), 0);
    reader.read(radioInfo("False", 1, 2, "True"));
    EXPECT_EQ(reader.activeRadio(), 2);
    EXPECT_TRUE(reader.transmitting());
    reader.read("<RadioInfo><ActiveRadioNr>1</ActiveRadioNr><IsTransmitting>x");
    EXPECT_EQ(reader.activeRadio(), 2);
    reader.read(radioInfo("False", 1, 1, "False"));
    EXPECT_EQ(reader.activeRadio(), 1);
    EXPECT_FALSE(reader.transmitting());
}

} // namespace
