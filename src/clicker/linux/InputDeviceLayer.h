// SPDX-License-Identifier: MIT
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <linux/input.h>
#include <linux/uinput.h>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra {

/// Every key state an input device can report, indexed by evdev code.
using EvdevKeySet = std::bitset<KEY_CNT>;

/// uinput keeps at most this many bytes of a virtual device's name.
inline constexpr size_t kVirtualDeviceNameCapacity = UINPUT_MAX_NAME_SIZE - 1;

/// An event device node as the system lists it.
struct InputDeviceNode {
    /// "/dev/input/eventN".
    std::string path;
    /// The input device's place in sysfs ("/sys/devices/.../inputN").
    std::string sysPath;
    /// The kernel's name of the device, which is also what a virtual copy's name starts with.
    std::string name;
    /// The system's input classification calls it a keyboard (it has the ordinary keys).
    bool keyboard = false;
    /// Every key it can report, as sysfs lists them: known without opening the device.
    EvdevKeySet keys;
};

/// The keys of sysfs' `capabilities/key`: hexadecimal words of a `long`'s width, the most
/// significant first, separated by spaces.
EvdevKeySet keySetFromCapabilities(std::string_view capabilities);

/// A device plugged in or removed after the listing.
struct InputDeviceChange {
    enum class Kind : uint8_t { added, removed };
    Kind kind = Kind::added;
    InputDeviceNode node;
};

/// How a read of events ended.
enum class InputReadStatus : uint8_t {
    /// Every event available was returned (or the buffer is full: read again).
    drained,
    /// The device is gone (unplugged, or access to it revoked).
    gone,
    /// Any other read error; the device should be given up.
    failed,
};

struct InputReadResult {
    size_t count = 0;
    InputReadStatus status = InputReadStatus::drained;
};

/// A virtual input device that re-emits a real one's events. Destroying it removes the device.
class VirtualInputDevice {
public:
    virtual ~VirtualInputDevice() = default;

    /// Where the kernel put the device, as uinput tells: what the system lists it as. Either may
    /// be empty when uinput cannot tell.
    virtual std::string_view path() const = 0;
    virtual std::string_view sysPath() const = 0;

    /// Readable when the desktop sends the device something back (an LED change).
    virtual int feedbackDescriptor() const = 0;

    /// Emits `events` (whole frames, each ending in `SYN_REPORT`) in order. False when the
    /// device no longer takes events.
    virtual bool write(std::span<const input_event> events) = 0;

    /// Reads what the desktop sent back, without blocking; returns how many events it stored.
    virtual size_t readFeedback(std::span<input_event> events) = 0;
};

/// One opened event device.
class InputDevice {
public:
    virtual ~InputDevice() = default;

    /// Readable when events are waiting (also when the device has gone).
    virtual int descriptor() const = 0;
    virtual std::string_view name() const = 0;
    /// The keys held down on the device right now, as the kernel knows them.
    virtual EvdevKeySet heldKeys() const = 0;

    /// Takes the device for this process alone; 0 or an errno value (EBUSY: another program
    /// has it).
    virtual int grab() = 0;
    virtual void ungrab() = 0;

    /// Reads waiting events without blocking, in order, into `events`.
    virtual InputReadResult read(std::span<input_event> events) = 0;

    /// Creates a virtual device named `name` (at most `kVirtualDeviceNameCapacity` bytes of it
    /// are kept) with this device's identifiers and capabilities, except auto-repeat (the
    /// source's own repeat events are passed on instead) and force feedback; or an errno value.
    virtual std::expected<std::unique_ptr<VirtualInputDevice>, int> createCopy(
        std::string_view name) = 0;

    /// Sets an LED of the device (a change its virtual copy received).
    virtual void setLed(uint16_t code, int32_t value) = 0;
};

/// The operating system's input devices: the seam between the device tap and the kernel.
/// Used from one thread at a time.
class InputDeviceLayer {
public:
    virtual ~InputDeviceLayer() = default;

    /// Starts following hot-plug; false when it cannot (listing and opening still work).
    virtual bool watchChanges() = 0;
    /// Readable when `changes` has something; -1 while changes are not followed.
    virtual int changesDescriptor() const = 0;
    /// Devices added or removed since the last call, without blocking.
    virtual std::vector<InputDeviceChange> changes() = 0;

    /// Every event device present now.
    virtual std::vector<InputDeviceNode> devices() = 0;

    /// Opens a device for reading and LED writes, without grabbing it; or an errno value.
    virtual std::expected<std::unique_ptr<InputDevice>, int> open(const std::string& path) = 0;

    /// Whether virtual devices can be created (the uinput device opens for writing); 0 or an
    /// errno value.
    virtual int virtualDevicesAvailable() = 0;

    /// Whether the device, or uinput for `virtualDevicesAtSeat`, will open for this user while
    /// their session is at the seat, told without opening it: its permissions allow it now, or
    /// udev hands it to whoever is at the seat (`uaccess`).
    virtual bool opensAtSeat(const InputDeviceNode& node) = 0;
    virtual bool virtualDevicesAtSeat() = 0;
};

/// The kernel's devices through udev, libevdev and uinput.
std::unique_ptr<InputDeviceLayer> makeSystemInputDeviceLayer();

}  // namespace kelvra
