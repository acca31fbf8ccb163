// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <libevdev/libevdev-uinput.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "FakeInputDevices.h"
#include "clicker/ClickerKeystroke.h"
#include "clicker/linux/DeviceKeyboardTap.h"
#include "clicker/linux/InputDeviceLayer.h"
#include "clicker/linux/VirtualCopyDescription.h"
#include "core/UniqueFd.h"
#include "support/RecordingLog.h"
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

using KeyEvents = std::vector<std::pair<uint16_t, int32_t>>;

/// Set by the test machine of tests/clicker/linux/kernel, where every keyboard is the test's
/// own: anywhere else the tap would take the keyboards of the person at the computer.
bool insideTestMachine() {
    return std::getenv("KELVRA_TEST_KERNEL_VM") != nullptr;
}

/// 70 bytes: a copy cannot keep all of it and its ending within uinput's 79, and cutting at
/// byte 66 would split the "é".
const std::string kLongName = "Kelvra Test Keyboard " + std::string(44, 'x') + "\xc3\xa9" + "abc";

/// A device of the test's own making through uinput, with a reader of its node standing for the
/// desktop (which gets nothing while the device is grabbed).
struct UinputSource {
    explicit UinputSource(const LibevdevPointer& description)
        : name(libevdev_get_name(description.get())) {
        libevdev_uinput* created = nullptr;
        EXPECT_EQ(libevdev_uinput_create_from_device(description.get(),
                                                     LIBEVDEV_UINPUT_OPEN_MANAGED, &created),
                  0);
        device.reset(created);
        path = created != nullptr ? libevdev_uinput_get_devnode(created) : "";
        desktop = UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }

    void send(const KeyEvents& keys) {
        for (const auto& [code, value] : keys) {
            libevdev_uinput_write_event(device.get(), EV_KEY, code, value);
        }
        libevdev_uinput_write_event(device.get(), EV_SYN, SYN_REPORT, 0);
    }
    /// Whether the desktop's reader has events waiting.
    bool desktopHasEvents() const {
        pollfd entry{desktop.get(), POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1;
    }

    std::string name, path;
    std::unique_ptr<libevdev_uinput, void (*)(libevdev_uinput*)> device{nullptr,
                                                                        libevdev_uinput_destroy};
    UniqueFd desktop;
};

/// A clicker with a handful of keys: udev calls it a set of keys, not a keyboard.
LibevdevPointer clickerDescription() {
    LibevdevPointer description = testing::presenterDescription();
    libevdev_set_name(description.get(), "Kelvra Test Clicker");
    // No kernel repeats: a key held across a slow step would add events to what is compared.
    libevdev_disable_event_type(description.get(), EV_REP);
    return description;
}

LibevdevPointer keyboardDescription(const std::string& name) {
    LibevdevPointer description(libevdev_new());
    libevdev_set_name(description.get(), name.c_str());
    libevdev_set_id_bustype(description.get(), BUS_USB);
    for (unsigned key = KEY_ESC; key <= KEY_MICMUTE; ++key) {
        libevdev_enable_event_code(description.get(), EV_KEY, key, nullptr);
    }
    return description;
}

KeyEvents keysOf(const std::vector<input_event>& frame) {
    KeyEvents keys;
    for (const input_event& each : frame) {
        if (each.type == EV_KEY) {
            keys.emplace_back(each.code, each.value);
        }
    }
    return keys;
}

/// The device tap over the system layer, with udev classifying and announcing the devices.
class DeviceTapOnKernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!insideTestMachine()) {
            GTEST_SKIP() << "the tap takes every keyboard: it runs only in the test machine";
        }
        ASSERT_EQ(::access("/dev/uinput", W_OK), 0) << std::strerror(errno);
    }
    ~DeviceTapOnKernelTest() override {
        if (outcome.valid()) {
            finish();
        }
    }

    void start() {
        tap = std::make_unique<DeviceKeyboardTap>(
            makeSystemInputDeviceLayer(), std::make_unique<testing::FakeSessionLock>(), log);
        auto configuration = std::make_shared<KeyboardTapConfiguration>();
        configuration->assignedKeystrokes.push_back(
            ClickerKeystroke{ClickerKeyCode::pageDown, 0, ""});
        tap->setConfiguration(configuration);
        ASSERT_TRUE(tap->open().has_value());
        outcome = std::async(std::launch::async, [this] { return tap->run(stop.get(), client); });
    }

    KeyboardTapRunOutcome finish() {
        eventfd_write(stop.get(), 1);
        return outcome.get();
    }

    /// Every device but `source` itself named like a copy of it: as much of its name as a copy
    /// keeps, followed by anything.
    std::vector<InputDeviceNode> copiesOf(const UinputSource& source) {
        return copiesOf(source.name, source.path);
    }
    std::vector<InputDeviceNode> copiesOf(std::string_view name, std::string_view path = {}) {
        const std::string_view stem = name.substr(0, 40);
        std::vector<InputDeviceNode> copies;
        for (InputDeviceNode& node : layer->devices()) {
            if (node.path != path && node.name.starts_with(stem)) {
                copies.push_back(std::move(node));
            }
        }
        return copies;
    }

    /// Waits for the copy of `source` and opens it for reading, as the desktop would.
    UniqueFd openCopy(const UinputSource& source) {
        std::vector<InputDeviceNode> copies;
        EXPECT_TRUE(testing::eventually([&] { return !(copies = copiesOf(source)).empty(); }))
            << "no copy of " << source.name;
        return UniqueFd(copies.empty() ? -1 : ::open(copies[0].path.c_str(), O_RDONLY | O_CLOEXEC));
    }

    /// Plugs in one more keyboard and waits for its copy: the tap has then dealt with every
    /// device that appeared before it, copies included.
    void waitUntilTheTapHasCaughtUp() {
        const UinputSource sentinel(keyboardDescription("Kelvra Test Sentinel"));
        EXPECT_TRUE(openCopy(sentinel));
    }

    std::unique_ptr<InputDeviceLayer> layer = makeSystemInputDeviceLayer();
    std::shared_ptr<testing::RecordingLog> log = std::make_shared<testing::RecordingLog>();
    testing::RecordingTapClient client{{ClickerKeyCode::pageDown}};
    std::unique_ptr<DeviceKeyboardTap> tap;
    UniqueFd stop{::eventfd(0, EFD_CLOEXEC)};
    std::future<KeyboardTapRunOutcome> outcome;
};

TEST_F(DeviceTapOnKernelTest,
       TakesAClickerAndALongNamedKeyboardOnceEachAndConsumesOnlyTheAssignedKey) {
    UinputSource keyboard(keyboardDescription(kLongName));
    start();
    // Plugged in while the tap runs, as a presenter's receiver is before a talk.
    UinputSource clicker(clickerDescription());
    const UniqueFd clickerCopy = openCopy(clicker);
    const UniqueFd keyboardCopy = openCopy(keyboard);
    waitUntilTheTapHasCaughtUp();

    const auto nodes = layer->devices();
    const auto clickerNode = std::ranges::find(nodes, clicker.path, &InputDeviceNode::path);
    ASSERT_NE(clickerNode, nodes.end());
    EXPECT_FALSE(clickerNode->keyboard) << "the clicker is to be only a set of keys";

    // One copy each, and no copy of a copy.
    ASSERT_EQ(copiesOf(clicker).size(), 1u);
    const auto keyboardCopies = copiesOf(keyboard);
    ASSERT_EQ(keyboardCopies.size(), 1u);
    const std::string& copyName = keyboardCopies[0].name;
    ASSERT_TRUE(copyName.ends_with(kVirtualCopyNameSuffix)) << copyName;
    const std::string kept = copyName.substr(0, copyName.size() - kVirtualCopyNameSuffix.size());
    EXPECT_TRUE(kLongName.starts_with(kept)) << copyName;
    EXPECT_NE(static_cast<unsigned char>(kLongName[kept.size()]) & 0xc0, 0x80) << copyName;

    clicker.send({{KEY_B, 1}});
    clicker.send({{KEY_PAGEDOWN, 1}});
    clicker.send({{KEY_B, 0}});
    clicker.send({{KEY_PAGEDOWN, 0}});
    clicker.send({{KEY_PAGEUP, 1}, {KEY_PAGEUP, 0}});
    keyboard.send({{KEY_LEFTSHIFT, 1}, {KEY_A, 1}});
    keyboard.send({{KEY_PAGEDOWN, 1}, {KEY_A, 0}});
    keyboard.send({{KEY_PAGEDOWN, 0}, {KEY_LEFTSHIFT, 0}});
    EXPECT_EQ(keysOf(readFrame(clickerCopy.get())), (KeyEvents{{KEY_B, 1}}));
    EXPECT_EQ(keysOf(readFrame(clickerCopy.get())), (KeyEvents{{KEY_B, 0}}));
    EXPECT_EQ(keysOf(readFrame(clickerCopy.get())), (KeyEvents{{KEY_PAGEUP, 1}, {KEY_PAGEUP, 0}}));
    EXPECT_EQ(keysOf(readFrame(keyboardCopy.get())), (KeyEvents{{KEY_LEFTSHIFT, 1}, {KEY_A, 1}}));
    EXPECT_EQ(keysOf(readFrame(keyboardCopy.get())), (KeyEvents{{KEY_A, 0}}));
    EXPECT_EQ(keysOf(readFrame(keyboardCopy.get())), (KeyEvents{{KEY_LEFTSHIFT, 0}}));
    // Grabbed: the desktop saw none of it.
    EXPECT_FALSE(clicker.desktopHasEvents());
    EXPECT_FALSE(keyboard.desktopHasEvents());
}

TEST_F(DeviceTapOnKernelTest, NeverGrabsOverAKeyHeldWhenItStarts) {
    UinputSource clicker(clickerDescription());
    clicker.send({{KEY_B, 1}});
    EXPECT_EQ(keysOf(readFrame(clicker.desktop.get())), (KeyEvents{{KEY_B, 1}}));
    start();
    waitUntilTheTapHasCaughtUp();
    EXPECT_TRUE(copiesOf(clicker).empty());

    // The desktop that saw the press sees its release; only then is the clicker taken.
    clicker.send({{KEY_B, 0}});
    EXPECT_EQ(keysOf(readFrame(clicker.desktop.get())), (KeyEvents{{KEY_B, 0}}));
    const UniqueFd copy = openCopy(clicker);
    clicker.send({{KEY_PAGEDOWN, 1}});
    clicker.send({{KEY_B, 1}});
    EXPECT_EQ(keysOf(readFrame(copy.get())), (KeyEvents{{KEY_B, 1}}));
    EXPECT_FALSE(clicker.desktopHasEvents());
}

TEST_F(DeviceTapOnKernelTest, AKeyboardVanishingMidReadTakesItsCopyAndItsHeldKeysAlong) {
    UinputSource clicker(clickerDescription());
    std::optional<UinputSource> keyboard(std::in_place,
                                         keyboardDescription("Kelvra Test Keyboard"));
    start();
    const UniqueFd clickerCopy = openCopy(clicker);
    const UniqueFd keyboardCopy = openCopy(*keyboard);
    keyboard->send({{KEY_LEFTSHIFT, 1}});
    EXPECT_EQ(keysOf(readFrame(keyboardCopy.get())), (KeyEvents{{KEY_LEFTSHIFT, 1}}));
    keyboard->send({{KEY_A, 1}});
    keyboard.reset();  // gone with a frame not yet read

    EXPECT_TRUE(testing::eventually([&] { return copiesOf("Kelvra Test Keyboard").empty(); }));
    // Its Shift no longer counts: Page Down on the clicker is plain Page Down.
    clicker.send({{KEY_PAGEDOWN, 1}});
    clicker.send({{KEY_PAGEDOWN, 0}});
    clicker.send({{KEY_B, 1}});
    EXPECT_EQ(keysOf(readFrame(clickerCopy.get())), (KeyEvents{{KEY_B, 1}}));
    const auto events = client.events();
    const auto pageDown =
        std::ranges::find(events, ClickerKeyCode::pageDown, &KeyboardTapEvent::keyCode);
    ASSERT_NE(pageDown, events.end());
    EXPECT_EQ(pageDown->modifierFlags, 0u);
}

TEST_F(DeviceTapOnKernelTest, StoppingReleasesEveryDeviceAndRemovesEveryCopy) {
    UinputSource clicker(clickerDescription());
    UinputSource keyboard(keyboardDescription("Kelvra Test Keyboard"));
    start();
    const UniqueFd clickerCopy = openCopy(clicker);
    const UniqueFd keyboardCopy = openCopy(keyboard);
    keyboard.send({{KEY_A, 1}});
    EXPECT_EQ(keysOf(readFrame(keyboardCopy.get())), (KeyEvents{{KEY_A, 1}}));
    clicker.send({{KEY_PAGEDOWN, 1}});

    EXPECT_EQ(finish(), KeyboardTapRunOutcome::stopped);
    EXPECT_TRUE(copiesOf(clicker).empty());
    EXPECT_TRUE(copiesOf(keyboard).empty());
    // Both are the desktop's again.
    keyboard.send({{KEY_A, 0}});
    clicker.send({{KEY_PAGEDOWN, 0}});
    EXPECT_EQ(keysOf(readFrame(keyboard.desktop.get())), (KeyEvents{{KEY_A, 0}}));
    EXPECT_EQ(keysOf(readFrame(clicker.desktop.get())), (KeyEvents{{KEY_PAGEDOWN, 0}}));
}

}  // namespace
}  // namespace kelvra
