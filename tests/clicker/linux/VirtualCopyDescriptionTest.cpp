// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <linux/input.h>
#include <tuple>

#include "FakeInputDevices.h"

namespace kelvra {
namespace {

TEST(VirtualCopyDescriptionTest, KeepsIdentifiersAndCapabilitiesButNotRepeatOrFeedback) {
    const LibevdevPointer source = testing::presenterDescription();
    libevdev_set_id_version(source.get(), 0x0111);
    libevdev_enable_property(source.get(), INPUT_PROP_POINTER);
    for (const unsigned key : {KEY_F5, KEY_PRESENTATION, BTN_LEFT}) {
        libevdev_enable_event_code(source.get(), EV_KEY, key, nullptr);
    }
    libevdev_enable_event_code(source.get(), EV_MSC, MSC_SCAN, nullptr);
    libevdev_enable_event_code(source.get(), EV_REL, REL_WHEEL, nullptr);
    const input_absinfo axis{
        .value = 0, .minimum = -5, .maximum = 1023, .fuzz = 1, .flat = 2, .resolution = 40};
    libevdev_enable_event_code(source.get(), EV_ABS, ABS_X, &axis);
    libevdev_enable_event_code(source.get(), EV_FF, FF_RUMBLE, nullptr);

    const LibevdevPointer copy = describeVirtualCopy(*source, "Presenter (Kelvra Hub)");
    ASSERT_TRUE(copy);
    EXPECT_STREQ(libevdev_get_name(copy.get()), "Presenter (Kelvra Hub)");
    EXPECT_EQ(std::tuple(libevdev_get_id_bustype(copy.get()), libevdev_get_id_vendor(copy.get()),
                         libevdev_get_id_product(copy.get()), libevdev_get_id_version(copy.get())),
              std::tuple(BUS_USB, 0x1d57, 0xad03, 0x0111));
    EXPECT_TRUE(libevdev_has_property(copy.get(), INPUT_PROP_POINTER));

    for (unsigned type = 0; type < EV_CNT; ++type) {
        const bool expected =
            libevdev_has_event_type(source.get(), type) && type != EV_REP && type != EV_FF;
        EXPECT_EQ(libevdev_has_event_type(copy.get(), type) == 1, expected) << "type " << type;
        if (!expected) {
            continue;
        }
        for (int code = 0; code <= libevdev_event_type_get_max(type); ++code) {
            EXPECT_EQ(libevdev_has_event_code(copy.get(), type, static_cast<unsigned>(code)),
                      libevdev_has_event_code(source.get(), type, static_cast<unsigned>(code)))
                << "type " << type << " code " << code;
        }
    }
    const input_absinfo* copied = libevdev_get_abs_info(copy.get(), ABS_X);
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(std::tuple(copied->minimum, copied->maximum, copied->resolution),
              std::tuple(-5, 1023, 40));
}

}  // namespace
}  // namespace kelvra
