// SPDX-License-Identifier: MIT
#include "FakeInputDevices.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <tuple>

namespace kelvra::testing {
namespace {

constexpr std::chrono::seconds kPatience{10};

std::pair<UniqueFd, UniqueFd> socketPair() {
    int ends[2] = {-1, -1};
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
    // The tap's end never blocks, like an event device opened with O_NONBLOCK.
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

void writeEvents(int descriptor, std::span<const input_event> events) {
    writeAll(descriptor, {reinterpret_cast<const char*>(events.data()), events.size_bytes()});
}

InputReadResult readEvents(int descriptor, std::span<input_event> events) {
    const ssize_t bytes = ::read(descriptor, events.data(), events.size_bytes());
    if (bytes <= 0) {
        return {0, bytes == 0        ? InputReadStatus::gone
                   : errno == EAGAIN ? InputReadStatus::drained
                                     : InputReadStatus::failed};
    }
    return {static_cast<size_t>(bytes) / sizeof(input_event), InputReadStatus::drained};
}

/// Never listed as a device: the kernel test meets the tap's own copies among the devices.
class FakeCopy final : public VirtualInputDevice {
public:
    FakeCopy(std::shared_ptr<FakeKeyboard> keyboard, UniqueFd tapEnd)
        : keyboard_(std::move(keyboard)), tapEnd_(std::move(tapEnd)) {}
    ~FakeCopy() override {
        keyboard_->change([&] { keyboard_->hasCopy = false; });
    }

    std::string_view path() const override { return {}; }
    std::string_view sysPath() const override { return {}; }
    int feedbackDescriptor() const override { return tapEnd_.get(); }
    bool write(std::span<const input_event> events) override {
        if (keyboard_->copyWriteFails) {
            return false;
        }
        writeEvents(tapEnd_.get(), events);
        return true;
    }
    size_t readFeedback(std::span<input_event> events) override {
        return readEvents(tapEnd_.get(), events).count;
    }

private:
    std::shared_ptr<FakeKeyboard> keyboard_;
    UniqueFd tapEnd_;
};

class FakeDevice final : public InputDevice {
public:
    explicit FakeDevice(std::shared_ptr<FakeKeyboard> keyboard) : keyboard_(std::move(keyboard)) {
        keyboard_->change([&] { ++keyboard_->openCount; });
    }
    ~FakeDevice() override {
        ungrab();
        keyboard_->change([&] { --keyboard_->openCount; });
    }

    int descriptor() const override { return keyboard_->tapEnd.get(); }
    std::string_view name() const override { return keyboard_->node.name; }
    EvdevKeySet heldKeys() const override { return {}; }
    int grab() override {
        if (const int error = keyboard_->grabError; error != 0) {
            return error;
        }
        keyboard_->change([&] { keyboard_->grabbed = true; });
        return 0;
    }
    void ungrab() override {
        keyboard_->change([&] { keyboard_->grabbed = false; });
    }
    InputReadResult read(std::span<input_event> events) override {
        return readEvents(keyboard_->tapEnd.get(), events);
    }
    std::expected<std::unique_ptr<VirtualInputDevice>, int> createCopy(std::string_view) override {
        if (const int error = keyboard_->copyError; error != 0) {
            return std::unexpected(error);
        }
        auto [tapEnd, testEnd] = socketPair();
        keyboard_->change([&] {
            keyboard_->hasCopy = true;
            keyboard_->copyTestEnd = std::move(testEnd);
        });
        return std::make_unique<FakeCopy>(keyboard_, std::move(tapEnd));
    }
    void setLed(uint16_t, int32_t) override {}

private:
    std::shared_ptr<FakeKeyboard> keyboard_;
};

class FakeLayer final : public InputDeviceLayer {
public:
    explicit FakeLayer(std::shared_ptr<FakeInputSystem> system) : system_(std::move(system)) {}

    bool watchChanges() override { return true; }
    int changesDescriptor() const override { return system_->changesSignal.get(); }
    std::vector<InputDeviceChange> changes() override {
        eventfd_t value = 0;
        eventfd_read(system_->changesSignal.get(), &value);
        std::lock_guard lock(system_->mutex);
        return std::exchange(system_->changes, {});
    }
    std::vector<InputDeviceNode> devices() override {
        std::vector<InputDeviceNode> nodes;
        for (const auto& keyboard : system_->devices()) {
            nodes.push_back(keyboard->node);
        }
        return nodes;
    }
    std::expected<std::unique_ptr<InputDevice>, int> open(const std::string& path) override {
        for (const auto& keyboard : system_->devices()) {
            if (keyboard->node.path == path) {
                if (const int error = keyboard->openError; error != 0) {
                    return std::unexpected(error);
                }
                return std::make_unique<FakeDevice>(keyboard);
            }
        }
        return std::unexpected(ENOENT);
    }
    int virtualDevicesAvailable() override { return system_->virtualDeviceError; }
    bool opensAtSeat(const InputDeviceNode& node) override {
        return std::ranges::any_of(system_->devices(), [&](const auto& keyboard) {
            return keyboard->node.path == node.path && keyboard->givenBySeat;
        });
    }
    bool virtualDevicesAtSeat() override { return true; }

private:
    std::shared_ptr<FakeInputSystem> system_;
};

}  // namespace

input_event event(uint16_t type, uint16_t code, int32_t value) {
    return {.time = {}, .type = type, .code = code, .value = value};
}

std::vector<input_event> frame(std::initializer_list<std::pair<uint16_t, int32_t>> keys) {
    std::vector<input_event> events;
    for (const auto& [code, value] : keys) {
        events.push_back(event(EV_KEY, code, value));
    }
    events.push_back(event(EV_SYN, SYN_REPORT, 0));
    return events;
}

std::vector<input_event> readFrame(int descriptor) {
    std::vector<input_event> events;
    for (;;) {
        pollfd entry{descriptor, POLLIN, 0};
        input_event next{};
        if (::poll(&entry, 1, static_cast<int>(kPatience.count() * 1000)) != 1 ||
            ::read(descriptor, &next, sizeof next) != sizeof next) {
            return {};
        }
        events.push_back(next);
        if (next.type == EV_SYN && next.code == SYN_REPORT) {
            return events;
        }
    }
}

LibevdevPointer presenterDescription() {
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
    return description;
}

FakeKeyboard::FakeKeyboard(InputDeviceNode listed) : node(std::move(listed)) {
    std::tie(tapEnd, testEnd) = socketPair();
}

void FakeKeyboard::send(const std::vector<input_event>& events) {
    writeEvents(testEnd.get(), events);
}

bool FakeKeyboard::waitUntilTaken(bool taken) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, kPatience, [&] { return grabbed == taken && hasCopy == taken; });
}

bool FakeKeyboard::waitUntilClosed() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, kPatience,
                            [&] { return openCount == 0 && !grabbed && !hasCopy; });
}

std::vector<input_event> FakeKeyboard::nextCopyFrame() {
    std::unique_lock lock(mutex);
    const int descriptor = copyTestEnd.get();
    lock.unlock();
    return descriptor < 0 ? std::vector<input_event>{} : readFrame(descriptor);
}

std::shared_ptr<FakeKeyboard> FakeInputSystem::add(std::string name, bool keyboard,
                                                   const std::set<uint16_t>& keys) {
    EvdevKeySet keySet;
    for (const uint16_t key : keys) {
        keySet.set(key);
    }
    std::lock_guard lock(mutex);
    const std::string number = std::to_string(nextNumber++);
    keyboards.push_back(std::make_shared<FakeKeyboard>(
        InputDeviceNode{"/dev/input/event" + number, "/sys/devices/virtual/input/input" + number,
                        std::move(name), keyboard, keySet}));
    return keyboards.back();
}

std::vector<std::shared_ptr<FakeKeyboard>> FakeInputSystem::devices() const {
    std::lock_guard lock(mutex);
    return keyboards;
}

std::shared_ptr<FakeKeyboard> FakeInputSystem::plug(std::string name) {
    auto added = add(std::move(name));
    announce({InputDeviceChange::Kind::added, added->node});
    return added;
}

void FakeInputSystem::remove(const std::shared_ptr<FakeKeyboard>& keyboard) {
    keyboard->unplug();
    {
        std::lock_guard lock(mutex);
        std::erase(keyboards, keyboard);
    }
    announceRemoval(keyboard);
}

std::shared_ptr<FakeKeyboard> FakeInputSystem::replug(
    const std::shared_ptr<FakeKeyboard>& keyboard) {
    InputDeviceNode node = keyboard->node;
    node.sysPath += "-again";
    auto back = std::make_shared<FakeKeyboard>(std::move(node));
    {
        std::lock_guard lock(mutex);
        std::ranges::replace(keyboards, keyboard, back);
    }
    announce({InputDeviceChange::Kind::added, back->node});
    return back;
}

void FakeInputSystem::announce(InputDeviceChange change) {
    {
        std::lock_guard lock(mutex);
        changes.push_back(std::move(change));
    }
    eventfd_write(changesSignal.get(), 1);
}

std::unique_ptr<InputDeviceLayer> FakeInputSystem::makeLayer() {
    return std::make_unique<FakeLayer>(shared_from_this());
}

KeyboardTapDecision RecordingTapClient::decide(const KeyboardTapEvent& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    const std::pair key{event.device, event.keyCode};
    const auto held = held_.find(key);
    const KeyboardTapDecision decision =
        held != held_.end() ? held->second
        : event.transition != KeyTransition::up && assigned_.contains(event.keyCode)
            ? KeyboardTapDecision::consume
            : KeyboardTapDecision::pass;
    if (event.transition == KeyTransition::up) {
        held_.erase(key);
    } else if (event.transition == KeyTransition::down) {
        held_.emplace(key, decision);
    }
    return decision;
}

void RecordingTapClient::forgetDevice(uint32_t device) {
    std::lock_guard lock(mutex_);
    std::erase_if(held_, [&](const auto& entry) { return entry.first.first == device; });
}

size_t RecordingTapClient::heldCount() const {
    std::lock_guard lock(mutex_);
    return held_.size();
}

std::vector<KeyboardTapEvent> RecordingTapClient::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

}  // namespace kelvra::testing
