// SPDX-License-Identifier: MIT
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libevdev/libevdev-uinput.h>
#include <poll.h>
#include <unistd.h>

#include "FakeInputDevices.h"
#include "clicker/linux/InputDeviceLayer.h"
#include "clicker/linux/VirtualCopyDescription.h"
#include "core/UniqueFd.h"

namespace kelvra {
namespace {

using testing::event;
using testing::readFrame;

/// Waits for a device of that name to be listed, for up to ten seconds.
std::optional<InputDeviceNode> waitForDevice(InputDeviceLayer& layer, const std::string& name) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        for (const InputDeviceNode& node : layer.devices()) {
            if (node.name == name) {
                return node;
            }
        }
        ::poll(nullptr, 0, 10);
    }
    return std::nullopt;
}

// The system layer against the kernel: a uinput keyboard of our own making is the source, so no
// keyboard of the machine is touched.
TEST(SystemInputDeviceLayerTest, ReadsGrabsAndCopiesARealDevice) {
    if (::access("/dev/uinput", W_OK) != 0) {
        GTEST_SKIP() << "/dev/uinput is not writable here (" << std::strerror(errno)
                     << "): the kernel path runs only where virtual devices can be created";
    }
    LibevdevPointer description(libevdev_new());
    libevdev_set_name(description.get(), "Kelvra Test Presenter");
    libevdev_set_id_bustype(description.get(), BUS_USB);
    libevdev_set_id_vendor(description.get(), 0x1d57);
    libevdev_set_id_product(description.get(), 0xad03);
    for (const unsigned key : {KEY_PAGEUP, KEY_PAGEDOWN, KEY_B}) {
        libevdev_enable_event_code(description.get(), EV_KEY, key, nullptr);
    }
    libevdev_enable_event_code(description.get(), EV_LED, LED_CAPSL, nullptr);
    const int repeat[2] = {250, 33};
    libevdev_enable_event_code(description.get(), EV_REP, REP_DELAY, &repeat[0]);
    libevdev_enable_event_code(description.get(), EV_REP, REP_PERIOD, &repeat[1]);
    libevdev_uinput* source = nullptr;
    ASSERT_EQ(libevdev_uinput_create_from_device(description.get(), LIBEVDEV_UINPUT_OPEN_MANAGED,
                                                 &source),
              0);
    const std::unique_ptr<libevdev_uinput, void (*)(libevdev_uinput*)> sourceOwner(
        source, libevdev_uinput_destroy);

    auto layer = makeSystemInputDeviceLayer();
    const auto sourceNode = waitForDevice(*layer, "Kelvra Test Presenter");
    ASSERT_TRUE(sourceNode);
    auto device = layer->open(sourceNode->path);
    ASSERT_TRUE(device) << std::strerror(device.error());
    EXPECT_TRUE((*device)->hasKey(KEY_PAGEDOWN));
    EXPECT_FALSE((*device)->hasKey(KEY_A));
    EXPECT_TRUE((*device)->heldKeys().none());

    auto copy = (*device)->createCopy("Kelvra Test Presenter (Kelvra Hub)");
    ASSERT_TRUE(copy) << std::strerror(copy.error());
    ASSERT_EQ((*device)->grab(), 0);
    const auto copyNode = waitForDevice(*layer, "Kelvra Test Presenter (Kelvra Hub)");
    ASSERT_TRUE(copyNode);
    const UniqueFd copyReader(::open(copyNode->path.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(copyReader);
    const int copyDescriptor = copyReader.get();

    libevdev_uinput_write_event(source, EV_KEY, KEY_B, 1);
    libevdev_uinput_write_event(source, EV_SYN, SYN_REPORT, 0);
    pollfd entry{(*device)->descriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 10'000), 1);
    std::array<input_event, 8> events{};
    const InputReadResult read = (*device)->read(events);
    ASSERT_EQ(read.status, InputReadStatus::drained);
    ASSERT_EQ(read.count, 2u);
    EXPECT_EQ(events[0].code, KEY_B);

    ASSERT_TRUE((*copy)->write(std::span(events.data(), read.count)));
    const auto copied = readFrame(copyDescriptor);
    ASSERT_EQ(copied.size(), 2u);
    EXPECT_EQ(copied[0].code, KEY_B);
    EXPECT_EQ(copied[0].value, 1);

    // An LED set on the copy comes back through its feedback descriptor.
    const input_event led[] = {event(EV_LED, LED_CAPSL, 1), event(EV_SYN, SYN_REPORT, 0)};
    ASSERT_EQ(::write(copyDescriptor, led, sizeof led), static_cast<ssize_t>(sizeof led));
    pollfd feedback{(*copy)->feedbackDescriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&feedback, 1, 10'000), 1);
    std::array<input_event, 8> sentBack{};
    ASSERT_GE((*copy)->readFeedback(sentBack), 1u);
    EXPECT_EQ(sentBack[0].type, EV_LED);
    EXPECT_EQ(sentBack[0].code, LED_CAPSL);
}

}  // namespace
}  // namespace kelvra
