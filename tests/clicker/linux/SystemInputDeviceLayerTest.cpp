// SPDX-License-Identifier: MIT
#include <algorithm>
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
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using testing::event;
using testing::readFrame;

/// Waits for a device of that name to be listed.
std::optional<InputDeviceNode> waitForDevice(InputDeviceLayer& layer, const std::string& name) {
    std::optional<InputDeviceNode> found;
    testing::eventually([&] {
        const auto nodes = layer.devices();
        const auto node = std::ranges::find(nodes, name, &InputDeviceNode::name);
        found = node == nodes.end() ? std::nullopt : std::optional(*node);
        return found.has_value();
    });
    return found;
}

TEST(SystemInputDeviceLayerTest, ReadsTheKeysSysfsLists) {
    // A presenter: B (48), Page Up (104), Page Down (109) and, in the seventh word, 0x1a9.
    const EvdevKeySet keys =
        keySetFromCapabilities("20000000000 0 0 0 0 210000000000 1000000000000\n");
    std::vector<size_t> codes;
    for (size_t code = 0; code < keys.size(); ++code) {
        if (keys.test(code)) {
            codes.push_back(code);
        }
    }
    EXPECT_EQ(codes, (std::vector<size_t>{48, 104, 109, 0x1a9}));
    EXPECT_TRUE(keySetFromCapabilities("not hexadecimal").none());
}

// The system layer against the kernel: a uinput keyboard of our own making is the source, so no
// keyboard of the machine is touched.
TEST(SystemInputDeviceLayerTest, ReadsGrabsAndCopiesARealDevice) {
    if (::access("/dev/uinput", W_OK) != 0) {
        GTEST_SKIP() << "/dev/uinput is not writable here (" << std::strerror(errno)
                     << "): the kernel path runs only where virtual devices can be created";
    }
    const LibevdevPointer description = testing::presenterDescription();
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
    EXPECT_TRUE(sourceNode->keys.test(KEY_PAGEDOWN));
    EXPECT_FALSE(sourceNode->keys.test(KEY_A));
    EXPECT_TRUE((*device)->heldKeys().none());

    auto copy = (*device)->createCopy("Kelvra Test Presenter (Kelvra Hub)");
    ASSERT_TRUE(copy) << std::strerror(copy.error());
    ASSERT_EQ((*device)->grab(), 0);
    const auto copyNode = waitForDevice(*layer, "Kelvra Test Presenter (Kelvra Hub)");
    ASSERT_TRUE(copyNode);
    // The tap knows its copies by where uinput says they are.
    EXPECT_EQ((*copy)->path(), copyNode->path);
    EXPECT_EQ((*copy)->sysPath(), copyNode->sysPath);
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
