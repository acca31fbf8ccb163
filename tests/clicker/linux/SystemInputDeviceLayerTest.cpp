// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <iostream>
#include <libevdev/libevdev-uinput.h>
#include <linux/uhid.h>
#include <poll.h>
#include <ranges>
#include <sys/eventfd.h>
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

// Clickers as the kernel meets them: USB HID devices made through /dev/uhid, whose report
// descriptors the kernel's own HID drivers turn into input devices, one per application
// collection, except that a consumer control declared after a keyboard joins the keyboard's.

/// Short items of a report descriptor (HID 1.11, 6.2.2), without their size bits.
enum HidItem : uint8_t {
    usagePage = 0x04,
    logicalMinimum = 0x14,
    logicalMaximum = 0x24,
    reportSize = 0x74,
    reportId = 0x84,
    reportCount = 0x94,
    usage = 0x08,
    usageMinimum = 0x18,
    usageMaximum = 0x28,
    input = 0x80,
    output = 0x90,
    collection = 0xA0,
    endCollection = 0xC0
};
using HidItems = std::vector<std::pair<HidItem, int32_t>>;

// From the HID Usage Tables: pages, usages, and the data of main and collection items.
constexpr int32_t kDesktopPage = 0x01, kKeyboardPage = 0x07, kLedPage = 0x08, kButtonPage = 0x09,
                  kConsumerPage = 0x0C;
constexpr int32_t kPointer = 0x01, kMouse = 0x02, kKeyboard = 0x06, kX = 0x30, kY = 0x31,
                  kConsumerControl = 0x01;
constexpr int32_t kArray = 0x00, kConstant = 0x01, kVariable = 0x02, kRelative = 0x06;
constexpr int32_t kPhysical = 0x00, kApplication = 0x01;
constexpr uint8_t kLeftShift = 0x02;  // its bit among the modifier bits

HidItems join(std::initializer_list<HidItems> parts) {
    HidItems joined;
    for (const HidItems& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

/// Each value takes the fewest bytes that hold it as a signed number.
std::vector<uint8_t> reportDescriptor(std::initializer_list<HidItems> parts) {
    std::vector<uint8_t> bytes;
    for (const auto& [item, value] : join(parts)) {
        const size_t size = item == endCollection                  ? 0
                            : value == static_cast<int8_t>(value)  ? 1
                            : value == static_cast<int16_t>(value) ? 2
                                                                   : 4;
        bytes.push_back(static_cast<uint8_t>(item | (size == 4 ? 3 : size)));
        for (size_t byte = 0; byte < size; ++byte) {
            bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * byte)));
        }
    }
    return bytes;
}

HidItems application(int32_t page, int32_t what) {
    return {{usagePage, page}, {usage, what}, {collection, kApplication}};
}
HidItems usages(int32_t page, int32_t minimum, int32_t maximum) {
    return {{usagePage, page}, {usageMinimum, minimum}, {usageMaximum, maximum}};
}
/// `count` values of `size` bits from `minimum` to `maximum`, declared by `main`.
HidItems field(HidItem main, int32_t flags, int32_t size, int32_t count, int32_t minimum = 0,
               int32_t maximum = 1) {
    return {{logicalMinimum, minimum},
            {logicalMaximum, maximum},
            {reportSize, size},
            {reportCount, count},
            {main, flags}};
}
const HidItems kEnd = {{endCollection, 0}};
/// Left Control to Right GUI, a bit each, as boot keyboards send them.
const HidItems kModifierBits =
    join({usages(kKeyboardPage, 0xE0, 0xE7), field(input, kVariable, 1, 8)});

/// A presenter's handful of keys as an array of `slots` that lists only their usages; a report
/// names a key by its place in the list.
enum HandfulKey : uint8_t { none, pageUp, pageDown, f5, escape, period, b };
HidItems handfulKeys(int32_t slots) {
    return join({{{usagePage, kKeyboardPage},
                  {usage, 0x4B},
                  {usage, 0x4E},
                  {usage, 0x3E},
                  {usage, 0x29},
                  {usage, 0x37},
                  {usage, 0x05}},
                 field(input, kArray, 8, slots, 1, 6)});
}

/// A receiver's keyboard, consumer control and mouse (a laser pointer's button) under report IDs
/// 1, 2 and 3, in the order given.
enum class ComboOrder : uint8_t { keyboardFirst, consumerFirst };
std::vector<uint8_t> comboDescriptor(ComboOrder order) {
    const HidItems keyboard = join({application(kDesktopPage, kKeyboard),
                                    {{reportId, 1}},
                                    kModifierBits,
                                    field(input, kConstant, 8, 1),
                                    usages(kLedPage, 1, 5),
                                    field(output, kVariable, 1, 5),
                                    field(output, kConstant, 3, 1),
                                    usages(kKeyboardPage, 0, 0x65),
                                    field(input, kArray, 8, 6, 0, 0x65),
                                    kEnd});
    const HidItems consumer = join({application(kConsumerPage, kConsumerControl),
                                    {{reportId, 2}},
                                    usages(kConsumerPage, 1, 0x28C),
                                    field(input, kArray, 16, 1, 1, 0x28C),
                                    kEnd});
    const HidItems mouse = join({application(kDesktopPage, kMouse),
                                 {{reportId, 3}, {usage, kPointer}, {collection, kPhysical}},
                                 usages(kButtonPage, 1, 3),
                                 field(input, kVariable, 1, 3),
                                 field(input, kConstant, 5, 1),
                                 {{usagePage, kDesktopPage}, {usage, kX}, {usage, kY}},
                                 field(input, kRelative, 8, 2, -127, 127),
                                 kEnd,
                                 kEnd});
    return order == ComboOrder::keyboardFirst ? reportDescriptor({keyboard, consumer, mouse})
                                              : reportDescriptor({consumer, keyboard, mouse});
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
    std::string_view standsFor;
    std::vector<uint8_t> descriptor;
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
        {"Kelvra Keys Receiver",
         "a receiver that is a plain keyboard with a presenter's handful of keys",
         reportDescriptor({application(kDesktopPage, kKeyboard), handfulKeys(2), kEnd}),
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
        // The kernel keeps a consumer control that follows a keyboard in the keyboard's device.
        {"Kelvra Combo Receiver",
         "a receiver with one descriptor and report IDs for a boot keyboard, consumer control "
         "and the laser pointer's button as a mouse",
         comboDescriptor(ComboOrder::keyboardFirst),
         KEY_NEXTSONG,
         {{"Keyboard", true}, {"Mouse", false}},
         comboTyping("Keyboard")},
        {"Kelvra Media Receiver",
         "the same receiver declaring its consumer control first, a device apart that is no "
         "keyboard",
         comboDescriptor(ComboOrder::consumerFirst),
         KEY_NEXTSONG,
         {{"Consumer Control", true}, {"Keyboard", true}, {"Mouse", false}},
         comboTyping("Consumer Control")},
        {"Kelvra Shift Presenter",
         "a presenter that sends Shift+F5, start from the current slide, in one report",
         reportDescriptor(
             {application(kDesktopPage, kKeyboard), kModifierBits, handfulKeys(1), kEnd}),
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
        uhid_event event{};
        event.type = UHID_CREATE2;
        std::ranges::copy(shape_.name, event.u.create2.name);
        event.u.create2.rd_size = static_cast<uint16_t>(shape_.descriptor.size());
        event.u.create2.bus = BUS_USB;
        event.u.create2.vendor = 0x1d57;
        event.u.create2.product = 0xad10;
        std::ranges::copy(shape_.descriptor, event.u.create2.rd_data);
        write(event);
    }
    void unplug() {
        uhid_event event{};
        event.type = UHID_DESTROY;
        write(event);
    }
    void send(const std::vector<uint8_t>& report) {
        uhid_event event{};
        event.type = UHID_INPUT2;
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

std::string keyName(uint16_t code) {
    const char* name = libevdev_event_code_get_name(EV_KEY, code);
    return name != nullptr ? name : std::to_string(code);
}

/// The device's name, what udev calls it, its event types and keys, for the reader of the log.
std::string describe(const InputDeviceNode& node) {
    std::string text = "\"" + node.name + "\"" + (node.keyboard ? " (a keyboard to udev):" : ":");
    const EvdevKeySet types =
        keySetFromCapabilities(testing::readFile(node.sysPath + "/capabilities/ev"));
    for (unsigned type = 0; type < EV_CNT; ++type) {
        if (types.test(type)) {
            text += std::string(" ") + libevdev_event_type_get_name(type);
        }
    }
    text += ", " + std::to_string(node.keys.count()) + " keys";
    size_t listed = 0;
    for (uint16_t code = 0; code < KEY_CNT && listed < 8; ++code) {
        if (node.keys.test(code)) {
            text += (listed++ == 0 ? ": " : " ") + keyName(code);
        }
    }
    return text + (node.keys.count() > listed ? " …" : "");
}

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

std::string framesText(const std::vector<KeyEvents>& frames) {
    std::string text;
    for (const KeyEvents& frame : frames) {
        text += text.empty() ? " " : ", ";
        for (size_t index = 0; index < frame.size(); ++index) {
            text += (index == 0 ? "" : "+") + keyName(frame[index].first) +
                    (frame[index].second != 0 ? " down" : " up");
        }
    }
    return text;
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
    UniqueFd openCopy(const UinputSource& source) { return openCopy(source.name, source.path); }
    UniqueFd openCopy(std::string_view name, std::string_view path) {
        std::vector<InputDeviceNode> copies;
        EXPECT_TRUE(testing::eventually([&] { return !(copies = copiesOf(name, path)).empty(); }))
            << "no copy of " << name;
        return UniqueFd(copies.empty() ? -1 : ::open(copies[0].path.c_str(), O_RDONLY | O_CLOEXEC));
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
            outputs.push_back(shape.parts[index].second
                                  ? openCopy(parts[index].name, parts[index].path)
                                  : UniqueFd());
        }
        waitUntilTheTapHasCaughtUp();
        const auto listed = layer->devices();
        for (size_t index = 0; index < parts.size(); ++index) {
            const size_t copies = copiesOf(parts[index].name, parts[index].path).size();
            EXPECT_EQ(copies, shape.parts[index].second ? 1u : 0u) << parts[index].name;
            const auto node = std::ranges::find(listed, parts[index].path, &InputDeviceNode::path);
            std::cout << "  the kernel made "
                      << describe(node != listed.end() ? *node : parts[index])
                      << (copies > 0 ? "; taken\n" : "; left alone\n");
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
            std::cout << "  " << (taken ? "passed on by the copy of " : "sent by ")
                      << parts[index].name << ":" << framesText(frames) << "\n";
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
        std::cout << "  reserved " << keyName(shape.assigned) << ": pressed " << presses
                  << " times, passed on never\n";
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
    const auto events = client->events();
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

TEST_F(DeviceTapOnKernelTest, TakesTheHidClickersPartsThatSendTheAssignedKeyAndAgainWhenReplugged) {
    ASSERT_EQ(::access("/dev/uhid", W_OK), 0) << std::strerror(errno);
    for (const ClickerShape& shape : clickerShapes()) {
        SCOPED_TRACE(shape.name);
        std::cout << "\n"
                  << shape.name << ", " << shape.standsFor << "; assigned "
                  << keyName(shape.assigned) << "\n";
        UhidClicker clicker(shape);
        auto parts = waitForParts(shape);
        start(LinuxKeyMap::keyCodeFromEvdev(shape.assigned));
        typeAndCheck(clicker, shape, parts);

        // Pulled out with keys held: the copies go, and the client forgets the held keys.
        clicker.unplug();
        for (const InputDeviceNode& part : parts) {
            EXPECT_TRUE(testing::eventually([&] { return copiesOf(part.name, part.path).empty(); }))
                << part.name;
        }
        EXPECT_TRUE(testing::eventually([&] { return client->heldCount() == 0; }));
        // Taken again on udev's news of the parts, however slowly a loaded machine passes it
        // on: the copies are waited for, and the typing then shows them taken.
        clicker.plug();
        std::cout << " pulled out with keys held and plugged back in:\n";
        parts = waitForParts(shape);
        typeAndCheck(clicker, shape, parts);
        EXPECT_EQ(finish(), KeyboardTapRunOutcome::stopped);
    }
}

}  // namespace
}  // namespace kelvra
