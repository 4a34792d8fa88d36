#include "RigAddress.h"

#include <gtest/gtest.h>

namespace {

TEST(RigAddressTest, ReadsTheProgramHostAndPort)
{
    struct Case {
        const char *value;
        const char *read; // text() of the address; nullptr: refused
    } const cases[] = {
        {"rigctld localhost:4532", "rigctld localhost:4532"},
        {"  FLRIG \t10.0.0.5:12345 ", "flrig 10.0.0.5:12345"},
        {"rigctld [::1]:1", "rigctld [::1]:1"},
        {"", nullptr},
        {"hamlib localhost:4532", nullptr},
        {"rigctld", nullptr},
        {"rigctld localhost", nullptr},
        {"rigctld :4532", nullptr},
        {"rigctld localhost:", nullptr},
        {"rigctld localhost:0", nullptr},
        {"rigctld localhost:65536", nullptr},
        {"rigctld localhost:45x2", nullptr},
        {"rigctld localhost:-1", nullptr},
        {"rigctld localhost:4532 4533", nullptr},
        {"rigctldlocalhost:4532", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        const RigAddress::Parsed parsed = RigAddress::parse(c.value);
        if (!c.read) {
            EXPECT_FALSE(parsed.address);
            EXPECT_TRUE(parsed.problem.contains(QStringLiteral("HOST:PORT")))
                << parsed.problem.toStdString();
            continue;
        }
        ASSERT_TRUE(parsed.address);
        EXPECT_TRUE(parsed.problem.isEmpty());
        EXPECT_EQ(parsed.address->text().toStdString(), c.read);
    }
}

} // namespace
