// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <libevdev/libevdev-uinput.h>
#include <linux/uhid.h>
#include <poll.h>
#include <ranges>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "FakeInputDevices.h"
#include "clicker/ClickerKeystroke.h"
#include "clicker/linux/DeviceKeyboardTap.h"
#include "clicker/linux/InputDeviceLayer.h"
#include "clicker/linux/LinuxKeyMap.h"
#include "clicker/linux/TappedKeyboard.h"
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
struct UinputSource : InputDeviceNode {
    explicit UinputSource(const LibevdevPointer& description) {
        name = libevdev_get_name(description.get());
        libevdev_uinput* created = nullptr;
        EXPECT_EQ(libevdev_uinput_create_from_device(description.get(),
                                                     LIBEVDEV_UINPUT_OPEN_MANAGED, &created),
                  0);
        device.reset(created);
        path = created != nullptr ? libevdev_uinput_get_devnode(created) : "";
        desktop = UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }

    void send(const KeyEvents& events) {
        for (const auto& [code, value] : events) {
            libevdev_uinput_write_event(device.get(), EV_KEY, code, value);
        }
        libevdev_uinput_write_event(device.get(), EV_SYN, SYN_REPORT, 0);
    }
    /// Whether the Caps Lock LED is lit, as the desktop last set it.
    bool capsLockLit() const {
        unsigned long leds = 0;
        ::ioctl(desktop.get(), EVIOCGLED(sizeof leds), &leds);
        return ((leds >> LED_CAPSL) & 1) != 0;
    }
    /// Whether the desktop's reader has events waiting.
    bool desktopHasEvents() const {
        pollfd entry{desktop.get(), POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1;
    }

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

// Clickers as the kernel meets them: USB HID devices made through /dev/uhid, whose report
// descriptors the kernel's own HID drivers turn into input devices, one per application
// collection, except that a consumer control declared after a keyboard joins the keyboard's.

/// Report descriptors (HID 1.11, 6.2.2) in parts, as a clicker's firmware holds them.
using Bytes = std::vector<uint8_t>;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

// Usage page Generic Desktop, usage Keyboard, an application collection; and its end.
const Bytes kKeyboardApplication = {0x05, 0x01, 0x09, 0x06, 0xa1, 0x01};
const Bytes kEnd = {0xc0};
/// Left Control to Right GUI, a bit each, as boot keyboards send them.
const Bytes kModifierBits = {0x05, 0x07, 0x1a, 0xe0, 0x00, 0x2a, 0xe7, 0x00, 0x15,
                             0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02};
constexpr uint8_t kLeftShift = 0x02;  // its bit among the modifier bits

/// A presenter's handful of keys as an array of `slots` that lists only their usages (Page Up,
/// Page Down, F5, Escape, period, B); a report names a key by its place in the list.
enum HandfulKey : uint8_t { none, pageUp, pageDown, f5, escape, period, b };
Bytes handfulKeys(uint8_t slots) {
    return {0x05, 0x07, 0x09, 0x4b, 0x09, 0x4e, 0x09, 0x3e, 0x09, 0x29,  0x09, 0x37,
            0x09, 0x05, 0x15, 0x01, 0x25, 0x06, 0x75, 0x08, 0x95, slots, 0x81, 0x00};
}

/// A receiver's keyboard (with its LEDs), consumer control and mouse (a laser pointer's button)
/// under report IDs 1, 2 and 3, in the order given: the keyboard's six keys an array of usages
/// 0 to 0x65, the consumer control's one usage of 16 bits, the mouse's three buttons and
/// relative X and Y.
enum class ComboOrder : uint8_t { keyboardFirst, consumerFirst };
Bytes comboDescriptor(ComboOrder order) {
    const Bytes keyboard =
        join({kKeyboardApplication,
              {0x85, 0x01},
              kModifierBits,
              {0x15, 0x00, 0x25, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x01, 0x05, 0x08, 0x19, 0x01,
               0x29, 0x05, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x05, 0x91, 0x02, 0x15, 0x00,
               0x25, 0x01, 0x75, 0x03, 0x95, 0x01, 0x91, 0x01, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65,
               0x15, 0x00, 0x25, 0x65, 0x75, 0x08, 0x95, 0x06, 0x81, 0x00, 0xc0}});
    const Bytes consumer = {0x05, 0x0c, 0x09, 0x01, 0xa1, 0x01, 0x85, 0x02, 0x05,
                            0x0c, 0x19, 0x01, 0x2a, 0x8c, 0x02, 0x15, 0x01, 0x26,
                            0x8c, 0x02, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xc0};
    const Bytes mouse = {0x05, 0x01, 0x09, 0x02, 0xa1, 0x01, 0x85, 0x03, 0x09, 0x01, 0xa1, 0x00,
                         0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01,
                         0x95, 0x03, 0x81, 0x02, 0x15, 0x00, 0x25, 0x01, 0x75, 0x05, 0x95, 0x01,
                         0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7f,
                         0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xc0, 0xc0};
    return order == ComboOrder::keyboardFirst ? join({keyboard, consumer, mouse})
                                              : join({consumer, keyboard, mouse});
}

/// A report and the key changes it makes on the kernel's device `part`, as the desktop is to see
/// them (through the copy where the tap took the device): none where the tap reserves them.
struct HidReport {
    std::vector<uint8_t> bytes;
    std::string_view part;
    KeyEvents seen;
};

/// The part of a clicker the kernel makes an input device of: named after the clicker,
/// "<name> <part>" where there are several.
constexpr std::string_view kOnlyPart = "";

struct ClickerShape {
    std::string name;
    Bytes descriptor;
    /// The evdev code of the assigned key.
    uint16_t assigned = 0;
    /// The input devices the kernel makes, and whether the tap is to take each.
    std::vector<std::pair<std::string_view, bool>> parts;
    /// Sent in order; the last leave keys held, to be pulled out so.
    std::vector<HidReport> typing;
};

std::string partName(const ClickerShape& shape, std::string_view part) {
    return part.empty() ? shape.name : shape.name + " " + std::string(part);
}

/// Keys, consumer usages and a click on the combo receiver, whose consumer control is `consumer`.
std::vector<HidReport> comboTyping(std::string_view consumer) {
    const auto keys = [](uint8_t modifiers, uint8_t key) {
        return std::vector<uint8_t>{1, modifiers, 0, key, 0, 0, 0, 0, 0};
    };
    const auto media = [](uint16_t usage) {
        return std::vector<uint8_t>{2, static_cast<uint8_t>(usage),
                                    static_cast<uint8_t>(usage >> 8)};
    };
    return {{keys(0, 0x4B), "Keyboard", {{KEY_PAGEUP, 1}}},
            {keys(0, 0), "Keyboard", {{KEY_PAGEUP, 0}}},
            {media(0xE9), consumer, {{KEY_VOLUMEUP, 1}}},
            {media(0), consumer, {{KEY_VOLUMEUP, 0}}},
            {media(0xB5), consumer, {}},
            {media(0), consumer, {}},
            {{3, 1, 0, 0}, "Mouse", {{BTN_LEFT, 1}}},
            {{3, 0, 0, 0}, "Mouse", {{BTN_LEFT, 0}}},
            {media(0xB6), consumer, {{KEY_PREVIOUSSONG, 1}}},
            {media(0), consumer, {{KEY_PREVIOUSSONG, 0}}},
            {keys(kLeftShift, 0x3E), "Keyboard", {{KEY_LEFTSHIFT, 1}, {KEY_F5, 1}}},
            {media(0xEA), consumer, {{KEY_VOLUMEDOWN, 1}}}};
}

std::vector<ClickerShape> clickerShapes() {
    return {
        // A receiver that is a plain keyboard with a presenter's handful of keys.
        {"Kelvra Keys Receiver",
         join({kKeyboardApplication, handfulKeys(2), kEnd}),
         KEY_PAGEDOWN,
         {{kOnlyPart, true}},
         {{{pageUp, none}, kOnlyPart, {{KEY_PAGEUP, 1}}},
          {{none, none}, kOnlyPart, {{KEY_PAGEUP, 0}}},
          {{pageDown, none}, kOnlyPart, {}},
          {{pageDown, b}, kOnlyPart, {{KEY_B, 1}}},
          {{b, none}, kOnlyPart, {}},
          {{none, none}, kOnlyPart, {{KEY_B, 0}}},
          {{f5, none}, kOnlyPart, {{KEY_F5, 1}}},
          {{escape, none}, kOnlyPart, {{KEY_F5, 0}, {KEY_ESC, 1}}},
          {{none, none}, kOnlyPart, {{KEY_ESC, 0}}},
          {{period, none}, kOnlyPart, {{KEY_DOT, 1}}}}},
        // A receiver with one descriptor and report IDs for a boot keyboard, consumer control and
        // the laser pointer's button as a mouse. The kernel keeps a consumer control that follows
        // a keyboard in the keyboard's device.
        {"Kelvra Combo Receiver",
         comboDescriptor(ComboOrder::keyboardFirst),
         KEY_NEXTSONG,
         {{"Keyboard", true}, {"Mouse", false}},
         comboTyping("Keyboard")},
        // The same receiver declaring its consumer control first, a device apart that is no
        // keyboard.
        {"Kelvra Media Receiver",
         comboDescriptor(ComboOrder::consumerFirst),
         KEY_NEXTSONG,
         {{"Consumer Control", true}, {"Keyboard", true}, {"Mouse", false}},
         comboTyping("Consumer Control")},
        // A presenter that sends Shift+F5, start from the current slide, in one report.
        {"Kelvra Shift Presenter",
         join({kKeyboardApplication, kModifierBits, handfulKeys(1), kEnd}),
         KEY_B,
         {{kOnlyPart, true}},
         {{{0, b}, kOnlyPart, {}},
          {{0, none}, kOnlyPart, {}},
          {{kLeftShift, f5}, kOnlyPart, {{KEY_LEFTSHIFT, 1}, {KEY_F5, 1}}},
          {{0, none}, kOnlyPart, {{KEY_LEFTSHIFT, 0}, {KEY_F5, 0}}},
          {{kLeftShift, b}, kOnlyPart, {{KEY_LEFTSHIFT, 1}}},
          {{0, none}, kOnlyPart, {{KEY_LEFTSHIFT, 0}}},
          {{0, pageDown}, kOnlyPart, {{KEY_PAGEDOWN, 1}}},
          {{0, none}, kOnlyPart, {{KEY_PAGEDOWN, 0}}},
          {{kLeftShift, f5}, kOnlyPart, {{KEY_LEFTSHIFT, 1}, {KEY_F5, 1}}}}},
    };
}

/// A clicker made through /dev/uhid: to the kernel a USB HID device like the real one.
class UhidClicker {
public:
    explicit UhidClicker(const ClickerShape& shape) : shape_(shape) { plug(); }

    void plug() {
        uhid_event event{.type = UHID_CREATE2, .u = {}};
        std::ranges::copy(shape_.name, event.u.create2.name);
        event.u.create2.rd_size = static_cast<uint16_t>(shape_.descriptor.size());
        event.u.create2.bus = BUS_USB;
        event.u.create2.vendor = 0x1d57;
        event.u.create2.product = 0xad10;
        std::ranges::copy(shape_.descriptor, event.u.create2.rd_data);
        write(event);
    }
    void unplug() { write({.type = UHID_DESTROY, .u = {}}); }
    void send(const std::vector<uint8_t>& report) {
        uhid_event event{.type = UHID_INPUT2, .u = {}};
        event.u.input2.size = static_cast<uint16_t>(report.size());
        std::ranges::copy(report, event.u.input2.data);
        write(event);
    }

private:
    void write(const uhid_event& event) {
        EXPECT_EQ(::write(uhid_.get(), &event, sizeof event), static_cast<ssize_t>(sizeof event))
            << std::strerror(errno);
    }

    const ClickerShape& shape_;
    UniqueFd uhid_{::open("/dev/uhid", O_RDWR | O_CLOEXEC)};
};

/// Whole frames with key changes, up to `count` of them, without the kernel's own repeats of a
/// held key (a HID keyboard repeats, and the emulated machine is slow).
std::vector<KeyEvents> keyFrames(int descriptor, size_t count) {
    std::vector<KeyEvents> frames;
    while (frames.size() < count) {
        const auto frame = readFrame(descriptor);
        if (frame.empty()) {
            break;
        }
        KeyEvents keys = keysOf(frame);
        std::erase_if(keys, [](const auto& key) { return key.second == 2; });
        if (!keys.empty()) {
            frames.push_back(std::move(keys));
        }
    }
    return frames;
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

    void start(uint16_t assigned = ClickerKeyCode::pageDown) {
        client.emplace(std::set{assigned});
        tap = std::make_unique<DeviceKeyboardTap>(
            makeSystemInputDeviceLayer(), std::make_unique<testing::FakeSessionLock>(), log);
        auto configuration = std::make_shared<KeyboardTapConfiguration>();
        configuration->assignedKeystrokes.push_back(ClickerKeystroke{assigned, 0, ""});
        tap->setConfiguration(configuration);
        ASSERT_TRUE(tap->open().has_value());
        outcome = std::async(std::launch::async, [this] { return tap->run(stop.get(), *client); });
    }

    KeyboardTapRunOutcome finish() {
        eventfd_write(stop.get(), 1);
        const KeyboardTapRunOutcome ended = outcome.get();
        eventfd_t stops = 0;
        eventfd_read(stop.get(), &stops);  // ready for the next run
        return ended;
    }

    /// Every device but `source` itself named like a copy of it: as much of its name as a copy
    /// keeps, followed by anything.
    std::vector<InputDeviceNode> copiesOf(const InputDeviceNode& source) {
        const std::string_view stem = std::string_view(source.name).substr(0, 40);
        std::vector<InputDeviceNode> copies;
        for (InputDeviceNode& node : layer->devices()) {
            if (node.path != source.path && node.name.starts_with(stem)) {
                copies.push_back(std::move(node));
            }
        }
        return copies;
    }

    /// Waits for the copy of `source` and opens it, as the desktop would.
    UniqueFd openCopy(const InputDeviceNode& source) {
        std::vector<InputDeviceNode> copies;
        EXPECT_TRUE(testing::eventually([&] { return !(copies = copiesOf(source)).empty(); }))
            << "no copy of " << source.name;
        return UniqueFd(copies.empty() ? -1 : ::open(copies[0].path.c_str(), O_RDWR | O_CLOEXEC));
    }

    /// Plugs in one more keyboard and waits for its copy: the tap has then dealt with every
    /// device that appeared before it, copies included.
    void waitUntilTheTapHasCaughtUp() {
        const UinputSource sentinel(keyboardDescription("Kelvra Test Sentinel"));
        EXPECT_TRUE(openCopy(sentinel));
    }

    /// The input devices the kernel made of the clicker, in the order of the shape's parts, once
    /// each is listed; nothing else carries its name.
    std::vector<InputDeviceNode> waitForParts(const ClickerShape& shape) {
        std::vector<InputDeviceNode> parts;
        for (const auto& [part, taken] : shape.parts) {
            const auto node = waitForDevice(*layer, partName(shape, part));
            EXPECT_TRUE(node) << "the kernel made no " << part;
            parts.push_back(node.value_or(InputDeviceNode{}));
        }
        EXPECT_EQ(std::ranges::count_if(layer->devices(),
                                        [&](const InputDeviceNode& node) {
                                            return node.name.starts_with(shape.name) &&
                                                   !node.name.ends_with(kVirtualCopyNameSuffix);
                                        }),
                  std::ssize(parts));
        return parts;
    }

    /// Sends the shape's typing and checks what the desktop gets from each part: through its
    /// copy where the tap is to take it, from the device itself where not.
    void typeAndCheck(UhidClicker& clicker, const ClickerShape& shape,
                      const std::vector<InputDeviceNode>& parts) {
        const size_t shownBefore = client->events().size();
        std::vector<UniqueFd> desktops, outputs;
        for (size_t index = 0; index < parts.size(); ++index) {
            desktops.emplace_back(
                ::open(parts[index].path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            outputs.push_back(shape.parts[index].second ? openCopy(parts[index]) : UniqueFd());
        }
        waitUntilTheTapHasCaughtUp();
        for (size_t index = 0; index < parts.size(); ++index) {
            EXPECT_EQ(copiesOf(parts[index]).size(), shape.parts[index].second ? 1u : 0u)
                << parts[index].name;
        }

        for (const HidReport& report : shape.typing) {
            clicker.send(report.bytes);
        }
        for (size_t index = 0; index < parts.size(); ++index) {
            std::vector<KeyEvents> expected;
            for (const HidReport& report : shape.typing) {
                if (report.part == shape.parts[index].first && !report.seen.empty()) {
                    expected.push_back(report.seen);
                }
            }
            const bool taken = shape.parts[index].second;
            const auto frames =
                keyFrames(taken ? outputs[index].get() : desktops[index].get(), expected.size());
            EXPECT_EQ(frames, expected) << parts[index].name;
            pollfd desktop{desktops[index].get(), POLLIN, 0};
            EXPECT_FALSE(taken && ::poll(&desktop, 1, 0) != 0)
                << "the desktop read the grabbed " << parts[index].name;
        }
        // The assigned key reached the tap's client, so it was reserved rather than lost; the
        // first key carried no modifier, so none was left held from before.
        const auto shown = client->events();
        const uint16_t assigned = LinuxKeyMap::keyCodeFromEvdev(shape.assigned);
        const auto presses = std::ranges::count_if(
            shown | std::views::drop(shownBefore), [&](const KeyboardTapEvent& event) {
                return event.keyCode == assigned && event.transition == KeyTransition::down;
            });
        EXPECT_GT(presses, 0);
        ASSERT_GT(shown.size(), shownBefore);
        EXPECT_EQ(shown[shownBefore].modifierFlags, 0u);
    }

    std::unique_ptr<InputDeviceLayer> layer = makeSystemInputDeviceLayer();
    std::shared_ptr<testing::RecordingLog> log = std::make_shared<testing::RecordingLog>();
    std::optional<testing::RecordingTapClient> client;
    std::unique_ptr<DeviceKeyboardTap> tap;
    UniqueFd stop{::eventfd(0, EFD_CLOEXEC)};
    std::future<KeyboardTapRunOutcome> outcome;
};

TEST_F(DeviceTapOnKernelTest,
       TakesAClickerAndALongNamedKeyboardOnceEachConsumesOnlyTheAssignedKeyAndGivesThemBack) {
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

    // Grabbed: the desktop sees nothing, the copies all but the assigned key (the receivers of
    // the HID case type more).
    clicker.send({{KEY_PAGEDOWN, 1}});
    clicker.send({{KEY_B, 1}});
    keyboard.send({{KEY_A, 1}});
    EXPECT_EQ(keysOf(readFrame(clickerCopy.get())), (KeyEvents{{KEY_B, 1}}));
    EXPECT_EQ(keysOf(readFrame(keyboardCopy.get())), (KeyEvents{{KEY_A, 1}}));
    EXPECT_FALSE(clicker.desktopHasEvents());
    EXPECT_FALSE(keyboard.desktopHasEvents());

    // An LED the desktop sets on the copy reaches the clicker.
    const input_event capsLock[] = {event(EV_LED, LED_CAPSL, 1), event(EV_SYN, SYN_REPORT, 0)};
    ASSERT_EQ(::write(clickerCopy.get(), capsLock, sizeof capsLock), ssize_t{sizeof capsLock});
    EXPECT_TRUE(testing::eventually([&] { return clicker.capsLockLit(); }));

    // Stopped with keys held: both are the desktop's again, without copies.
    EXPECT_EQ(finish(), KeyboardTapRunOutcome::stopped);
    EXPECT_TRUE(copiesOf(clicker).empty());
    EXPECT_TRUE(copiesOf(keyboard).empty());
    keyboard.send({{KEY_A, 0}});
    clicker.send({{KEY_PAGEDOWN, 0}});
    EXPECT_EQ(keysOf(readFrame(keyboard.desktop.get())), (KeyEvents{{KEY_A, 0}}));
    EXPECT_EQ(keysOf(readFrame(clicker.desktop.get())), (KeyEvents{{KEY_PAGEDOWN, 0}}));
}

TEST_F(DeviceTapOnKernelTest, NeverGrabsOverAKeyHeldWhenItStartsAndForgetsAVanishedKeyboard) {
    UinputSource clicker(clickerDescription());
    std::optional<UinputSource> keyboard(std::in_place,
                                         keyboardDescription("Kelvra Test Keyboard"));
    clicker.send({{KEY_B, 1}});
    EXPECT_EQ(keysOf(readFrame(clicker.desktop.get())), (KeyEvents{{KEY_B, 1}}));
    start();
    const UniqueFd keyboardCopy = openCopy(*keyboard);
    waitUntilTheTapHasCaughtUp();
    EXPECT_TRUE(copiesOf(clicker).empty());

    // Gone with a frame not yet read, and its Shift held.
    keyboard->send({{KEY_LEFTSHIFT, 1}});
    EXPECT_EQ(keysOf(readFrame(keyboardCopy.get())), (KeyEvents{{KEY_LEFTSHIFT, 1}}));
    keyboard->send({{KEY_A, 1}});
    const InputDeviceNode gone = *keyboard;
    keyboard.reset();
    EXPECT_TRUE(testing::eventually([&] { return copiesOf(gone).empty(); }));

    // The desktop that saw the press sees its release; only then is the clicker taken.
    clicker.send({{KEY_B, 0}});
    EXPECT_EQ(keysOf(readFrame(clicker.desktop.get())), (KeyEvents{{KEY_B, 0}}));
    const UniqueFd copy = openCopy(clicker);
    clicker.send({{KEY_PAGEDOWN, 1}});
    clicker.send({{KEY_B, 1}});
    EXPECT_EQ(keysOf(readFrame(copy.get())), (KeyEvents{{KEY_B, 1}}));
    EXPECT_FALSE(clicker.desktopHasEvents());
    // Nothing was decided while the desktop read the clicker, and the Shift no longer counts.
    const auto events = client->events();
    EXPECT_EQ(std::ranges::count(events, LinuxKeyMap::keyCodeFromEvdev(KEY_B),
                                 &KeyboardTapEvent::keyCode),
              1);
    const auto pageDown =
        std::ranges::find(events, ClickerKeyCode::pageDown, &KeyboardTapEvent::keyCode);
    ASSERT_NE(pageDown, events.end());
    EXPECT_EQ(pageDown->modifierFlags, 0u);
}

TEST_F(DeviceTapOnKernelTest, TakesTheHidClickersPartsThatSendTheAssignedKeyAndAgainWhenReplugged) {
    ASSERT_EQ(::access("/dev/uhid", W_OK), 0) << std::strerror(errno);
    for (const ClickerShape& shape : clickerShapes()) {
        SCOPED_TRACE(shape.name);
        UhidClicker clicker(shape);
        auto parts = waitForParts(shape);
        start(LinuxKeyMap::keyCodeFromEvdev(shape.assigned));
        typeAndCheck(clicker, shape, parts);

        // Pulled out with keys held: the copies go, and the client forgets the held keys.
        clicker.unplug();
        for (const InputDeviceNode& part : parts) {
            EXPECT_TRUE(testing::eventually([&] { return copiesOf(part).empty(); })) << part.name;
        }
        EXPECT_TRUE(testing::eventually([&] { return client->heldCount() == 0; }));
        // Taken again on udev's news of the parts, however slowly a loaded machine passes it
        // on: the copies are waited for, and the typing then shows them taken.
        clicker.plug();
        parts = waitForParts(shape);
        typeAndCheck(clicker, shape, parts);
        EXPECT_EQ(finish(), KeyboardTapRunOutcome::stopped);
    }
}

}  // namespace
}  // namespace kelvra
