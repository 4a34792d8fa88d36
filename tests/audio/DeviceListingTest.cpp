#include "DeviceListing.h"

#include <gtest/gtest.h>

namespace {

using Devices = std::vector<DeviceListing::Device>;

std::vector<std::string> names(const Devices &devices)
{
    std::vector<std::string> found;
    for (const auto &device : devices)
        found.push_back(device.name);
    return found;
}

} // namespace

// A listing counts only once it has ended, and one that ended in an error is
// refused whole: a shorter list would renumber the devices after the gap.
TEST(DeviceListing, GivesTheSortedListOnlyWhenItEndedWithoutError)
{
    DeviceListing listing;
    listing.add({"radio2", "Radio 2", ""});
    listing.add({"headphones", "USB Headphones", ""}); // sorted by description it would come last
    EXPECT_FALSE(listing.devices());
    listing.finish(false);
    ASSERT_TRUE(listing.devices());
    EXPECT_EQ(names(*listing.devices()), (std::vector<std::string>{"headphones", "radio2"}));
    EXPECT_EQ((*listing.devices())[1].description, "Radio 2");

    DeviceListing failed;
    failed.add({"radio1", "Radio 1", ""});
    failed.finish(true);
    EXPECT_FALSE(failed.devices());
}
