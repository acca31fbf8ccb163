// SPDX-License-Identifier: MIT
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libudev.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "clicker/linux/InputDeviceLayer.h"
#include "clicker/linux/VirtualCopyDescription.h"
#include "core/UniqueFd.h"

namespace kelvra {
namespace {

constexpr const char* kUinputPath = "/dev/uinput";

class UinputCopy final : public VirtualInputDevice {
public:
    UinputCopy(UniqueFd uinput, libevdev_uinput* device)
        : uinput_(std::move(uinput)), device_(device) {
        if (const char* node = libevdev_uinput_get_devnode(device_)) {
            path_ = node;
        }
        if (const char* sysPath = libevdev_uinput_get_syspath(device_)) {
            sysPath_ = sysPath;
        }
    }
    ~UinputCopy() override { libevdev_uinput_destroy(device_); }

    std::string_view path() const override { return path_; }
    std::string_view sysPath() const override { return sysPath_; }

    int feedbackDescriptor() const override { return uinput_.get(); }

    bool write(std::span<const input_event> events) override {
        // One write per batch: uinput takes any number of whole events at once.
        const auto* bytes = reinterpret_cast<const char*>(events.data());
        size_t remaining = events.size_bytes();
        while (remaining > 0) {
            const ssize_t written = ::write(uinput_.get(), bytes, remaining);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return false;
            }
            bytes += written;
            remaining -= static_cast<size_t>(written);
        }
        return true;
    }

    size_t readFeedback(std::span<input_event> events) override {
        const ssize_t bytes = ::read(uinput_.get(), events.data(), events.size_bytes());
        return bytes > 0 ? static_cast<size_t>(bytes) / sizeof(input_event) : 0;
    }

private:
    UniqueFd uinput_;
    libevdev_uinput* device_;
    std::string path_;
    std::string sysPath_;
};

class EvdevDevice final : public InputDevice {
public:
    EvdevDevice(UniqueFd descriptor, libevdev* device)
        : descriptor_(std::move(descriptor)), device_(device) {}
    ~EvdevDevice() override = default;

    int descriptor() const override { return descriptor_.get(); }
    std::string_view name() const override {
        const char* name = libevdev_get_name(device_.get());
        return name != nullptr ? name : "";
    }
    EvdevKeySet heldKeys() const override {
        unsigned char bits[KEY_CNT / 8 + 1] = {};
        EvdevKeySet held;
        if (::ioctl(descriptor_.get(), EVIOCGKEY(sizeof bits), bits) < 0) {
            // Unknown counts as held: a grab now could strand a key.
            held.set(KEY_RESERVED);
            return held;
        }
        for (size_t code = 0; code < KEY_CNT; ++code) {
            if ((bits[code / 8] >> (code % 8)) & 1) {
                held.set(code);
            }
        }
        return held;
    }

    int grab() override {
        const int error = -libevdev_grab(device_.get(), LIBEVDEV_GRAB);
        if (error == 0) {
            ::clock_gettime(CLOCK_MONOTONIC, &grabbedAt_);
        }
        return error;
    }
    void ungrab() override {
        libevdev_grab(device_.get(), LIBEVDEV_UNGRAB);
        grabbedAt_ = {};
    }

    InputReadResult read(std::span<input_event> events) override {
        InputReadResult result;
        while (result.count < events.size()) {
            const int status =
                libevdev_next_event(device_.get(), readFlags_, &events[result.count]);
            if (status == LIBEVDEV_READ_STATUS_SUCCESS) {
                if (!stampedBeforeGrab(events[result.count])) {
                    ++result.count;
                }
            } else if (status == LIBEVDEV_READ_STATUS_SYNC) {
                // Events were dropped; libevdev now replays the difference to the device's
                // state as events, which the tap treats like any others. The drop notice itself
                // is not passed on: the copy has lost nothing.
                readFlags_ = LIBEVDEV_READ_FLAG_SYNC;
                const input_event& synced = events[result.count];
                if (synced.type != EV_SYN || synced.code != SYN_DROPPED) {
                    ++result.count;
                }
            } else if (status == -EAGAIN) {
                if (readFlags_ == LIBEVDEV_READ_FLAG_SYNC) {
                    readFlags_ = LIBEVDEV_READ_FLAG_NORMAL;
                    continue;
                }
                break;
            } else if (status == -EINTR) {
                continue;
            } else {
                result.status = status == -ENODEV ? InputReadStatus::gone : InputReadStatus::failed;
                break;
            }
        }
        return result;
    }

    std::expected<std::unique_ptr<VirtualInputDevice>, int> createCopy(
        std::string_view name) override {
        const LibevdevPointer description = describeVirtualCopy(*device_, name);
        if (!description) {
            return std::unexpected(ENOMEM);
        }
        UniqueFd uinput(::open(kUinputPath, O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!uinput) {
            return std::unexpected(errno);
        }
        libevdev_uinput* created = nullptr;
        const int status =
            libevdev_uinput_create_from_device(description.get(), uinput.get(), &created);
        if (status < 0) {
            return std::unexpected(-status);
        }
        return std::make_unique<UinputCopy>(std::move(uinput), created);
    }

    void setLed(uint16_t code, int32_t value) override {
        libevdev_kernel_set_led_value(device_.get(), code,
                                      value != 0 ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF);
    }

private:
    /// Events queued before the grab reached the desktop as well; passing them on through the
    /// copy would repeat them. Once a later event arrives the check is over.
    bool stampedBeforeGrab(const input_event& event) {
        if (grabbedAt_.tv_sec == 0 && grabbedAt_.tv_nsec == 0) {
            return false;
        }
        const bool before = event.input_event_sec < grabbedAt_.tv_sec ||
                            (event.input_event_sec == grabbedAt_.tv_sec &&
                             event.input_event_usec * 1000 < grabbedAt_.tv_nsec);
        if (!before) {
            grabbedAt_ = {};
        }
        return before;
    }

    UniqueFd descriptor_;
    LibevdevPointer device_;
    unsigned readFlags_ = LIBEVDEV_READ_FLAG_NORMAL;
    timespec grabbedAt_{};
};

struct UdevUnref {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
    void operator()(udev_enumerate* enumeration) const { udev_enumerate_unref(enumeration); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
template <typename T>
using UdevPointer = std::unique_ptr<T, UdevUnref>;

/// The node of an event device, or nothing for every other input device (the parent input
/// device, joystick and mouse nodes).
std::optional<InputDeviceNode> eventNode(udev_device* device) {
    const char* path = udev_device_get_devnode(device);
    const char* sysname = udev_device_get_sysname(device);
    if (path == nullptr || sysname == nullptr || std::strncmp(sysname, "event", 5) != 0) {
        return std::nullopt;
    }
    InputDeviceNode node;
    node.path = path;
    // The event device sits in its input device's folder. A removal is told once that may be
    // gone from sysfs too, and the input device is what tells it from a later one at its node.
    if (const char* sysPath = udev_device_get_syspath(device)) {
        const std::string_view own = sysPath;
        node.sysPath = own.substr(0, own.rfind('/'));
    }
    if (udev_device* parent =
            udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr)) {
        if (const char* name = udev_device_get_sysattr_value(parent, "name")) {
            node.name = name;
        }
        if (const char* keys = udev_device_get_sysattr_value(parent, "capabilities/key")) {
            node.keys = keySetFromCapabilities(keys);
        }
    }
    const char* keyboard = udev_device_get_property_value(device, "ID_INPUT_KEYBOARD");
    node.keyboard = keyboard != nullptr && std::string_view(keyboard) == "1";
    return node;
}

/// See `InputDeviceLayer::opensAtSeat`; `mode` as for access(2).
bool openableAtSeat(udev* context, const char* path, int mode) {
    if (::access(path, mode) == 0) {
        return true;
    }
    struct stat status {};
    if (context == nullptr || ::stat(path, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return false;
    }
    const UdevPointer<udev_device> device(
        udev_device_new_from_devnum(context, 'c', status.st_rdev));
    return device && udev_device_has_tag(device.get(), "uaccess") > 0;
}

class SystemInputDeviceLayer final : public InputDeviceLayer {
public:
    SystemInputDeviceLayer() : udev_(udev_new()) {}

    bool watchChanges() override {
        if (!udev_) {
            return false;
        }
        if (monitor_) {
            return true;
        }
        UdevPointer<udev_monitor> monitor(udev_monitor_new_from_netlink(udev_.get(), "udev"));
        if (!monitor ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "input", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor.get()) < 0) {
            return false;
        }
        const int descriptor = udev_monitor_get_fd(monitor.get());
        ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
        monitor_ = std::move(monitor);
        return true;
    }

    int changesDescriptor() const override {
        return monitor_ ? udev_monitor_get_fd(monitor_.get()) : -1;
    }

    std::vector<InputDeviceChange> changes() override {
        std::vector<InputDeviceChange> changes;
        if (!monitor_) {
            return changes;
        }
        while (UdevPointer<udev_device> device{udev_monitor_receive_device(monitor_.get())}) {
            const char* action = udev_device_get_action(device.get());
            auto node = eventNode(device.get());
            if (action == nullptr || !node) {
                continue;
            }
            const std::string_view kind = action;
            if (kind == "add") {
                changes.push_back({InputDeviceChange::Kind::added, std::move(*node)});
            } else if (kind == "remove") {
                changes.push_back({InputDeviceChange::Kind::removed, std::move(*node)});
            }
        }
        return changes;
    }

    std::vector<InputDeviceNode> devices() override {
        std::vector<InputDeviceNode> nodes;
        if (!udev_) {
            return nodes;
        }
        UdevPointer<udev_enumerate> enumeration(udev_enumerate_new(udev_.get()));
        if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "input") < 0 ||
            udev_enumerate_scan_devices(enumeration.get()) < 0) {
            return nodes;
        }
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
            UdevPointer<udev_device> device(
                udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry)));
            if (device) {
                if (auto node = eventNode(device.get())) {
                    nodes.push_back(std::move(*node));
                }
            }
        }
        return nodes;
    }

    std::expected<std::unique_ptr<InputDevice>, int> open(const std::string& path) override {
        UniqueFd descriptor(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!descriptor) {
            return std::unexpected(errno);
        }
        libevdev* device = nullptr;
        const int status = libevdev_new_from_fd(descriptor.get(), &device);
        if (status < 0) {
            return std::unexpected(-status);
        }
        // Monotonic time stamps, comparable with the grab's (wall-clock time may jump).
        libevdev_set_clock_id(device, CLOCK_MONOTONIC);
        return std::make_unique<EvdevDevice>(std::move(descriptor), device);
    }

    int virtualDevicesAvailable() override {
        const UniqueFd uinput(::open(kUinputPath, O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        return uinput ? 0 : errno;
    }

    bool opensAtSeat(const InputDeviceNode& node) override {
        return openableAtSeat(udev_.get(), node.path.c_str(), R_OK | W_OK);
    }
    bool virtualDevicesAtSeat() override { return openableAtSeat(udev_.get(), kUinputPath, W_OK); }

private:
    UdevPointer<udev> udev_;
    UdevPointer<udev_monitor> monitor_;
};

}  // namespace

EvdevKeySet keySetFromCapabilities(std::string_view capabilities) {
    EvdevKeySet keys;
    constexpr size_t kWordBits = sizeof(unsigned long) * 8;
    size_t firstBit = 0;
    // From the least significant word, the last one.
    size_t end = capabilities.find_last_not_of(" \n");
    while (end != std::string_view::npos && firstBit < KEY_CNT) {
        const size_t space = capabilities.find_last_of(' ', end);
        const size_t begin = space == std::string_view::npos ? 0 : space + 1;
        unsigned long word = 0;
        const auto parsed =
            std::from_chars(capabilities.data() + begin, capabilities.data() + end + 1, word, 16);
        if (parsed.ec != std::errc{} || parsed.ptr != capabilities.data() + end + 1) {
            return {};
        }
        for (size_t bit = 0; bit < kWordBits && firstBit + bit < KEY_CNT; ++bit) {
            if (((word >> bit) & 1U) != 0) {
                keys.set(firstBit + bit);
            }
        }
        firstBit += kWordBits;
        end = space == std::string_view::npos ? std::string_view::npos
                                              : capabilities.find_last_not_of(' ', space);
    }
    return keys;
}

std::unique_ptr<InputDeviceLayer> makeSystemInputDeviceLayer() {
    return std::make_unique<SystemInputDeviceLayer>();
}

}  // namespace kelvra
