// SPDX-License-Identifier: MIT
#include "FakeInputDevices.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

namespace kelvra::testing {
namespace {

constexpr int kWaitMilliseconds = 10'000;

std::pair<UniqueFd, UniqueFd> socketPair() {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return {};
    }
    // The tap's end never blocks, like an event device opened with O_NONBLOCK.
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

void writeEvents(int descriptor, std::span<const input_event> events) {
    const auto* bytes = reinterpret_cast<const char*>(events.data());
    size_t remaining = events.size_bytes();
    while (remaining > 0) {
        const ssize_t written = ::write(descriptor, bytes, remaining);
        if (written <= 0) {
            return;
        }
        bytes += written;
        remaining -= static_cast<size_t>(written);
    }
}

/// Reads up to `events.size()` events; 0 at end of stream or when none is waiting.
InputReadResult readEvents(int descriptor, std::span<input_event> events) {
    const ssize_t bytes = ::read(descriptor, events.data(), events.size_bytes());
    if (bytes == 0) {
        return {0, InputReadStatus::gone};
    }
    if (bytes < 0) {
        return {0, errno == EAGAIN ? InputReadStatus::drained : InputReadStatus::failed};
    }
    return {static_cast<size_t>(bytes) / sizeof(input_event), InputReadStatus::drained};
}

class FakeCopy final : public VirtualInputDevice {
public:
    FakeCopy(std::shared_ptr<FakeKeyboard> keyboard, UniqueFd tapEnd)
        : keyboard_(std::move(keyboard)), tapEnd_(std::move(tapEnd)) {}
    ~FakeCopy() override { keyboard_->copyDestroyed(); }

    int feedbackDescriptor() const override { return tapEnd_.get(); }
    bool write(std::span<const input_event> events) override {
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
    explicit FakeDevice(std::shared_ptr<FakeKeyboard> keyboard) : keyboard_(std::move(keyboard)) {}
    ~FakeDevice() override { keyboard_->ungrab(); }

    int descriptor() const override { return keyboard_->tapDescriptor(); }
    std::string_view name() const override { return keyboard_->node().name; }
    bool hasKey(uint16_t evdevCode) const override { return keyboard_->keys().contains(evdevCode); }
    EvdevKeySet heldKeys() const override { return keyboard_->heldKeys(); }
    int grab() override { return keyboard_->grab(); }
    void ungrab() override { keyboard_->ungrab(); }
    InputReadResult read(std::span<input_event> events) override {
        return readEvents(keyboard_->tapDescriptor(), events);
    }
    std::expected<std::unique_ptr<VirtualInputDevice>, int> createCopy(
        std::string_view name) override {
        return keyboard_->createCopy(name);
    }
    void setLed(uint16_t code, int32_t value) override { keyboard_->recordLed(code, value); }

private:
    std::shared_ptr<FakeKeyboard> keyboard_;
};

class FakeLayer final : public InputDeviceLayer {
public:
    explicit FakeLayer(std::shared_ptr<FakeInputSystem> system) : system_(std::move(system)) {}

    bool watchChanges() override { return true; }
    int changesDescriptor() const override { return system_->changesDescriptor(); }
    std::vector<InputDeviceChange> changes() override { return system_->takeChanges(); }
    std::vector<InputDeviceNode> devices() override {
        std::vector<InputDeviceNode> nodes;
        for (const auto& keyboard : system_->keyboards()) {
            nodes.push_back(keyboard->node());
        }
        return nodes;
    }
    std::expected<std::unique_ptr<InputDevice>, int> open(const std::string& path) override {
        for (const auto& keyboard : system_->keyboards()) {
            if (keyboard->node().path == path) {
                if (const int error = keyboard->openError(); error != 0) {
                    return std::unexpected(error);
                }
                return std::make_unique<FakeDevice>(keyboard);
            }
        }
        return std::unexpected(ENOENT);
    }
    int virtualDevicesAvailable() override { return system_->virtualDeviceError(); }

private:
    std::shared_ptr<FakeInputSystem> system_;
};

class FakeLockWatch final : public SessionLockWatch {
public:
    explicit FakeLockWatch(FakeSessionLock& lock) : lock_(lock) {}
    int descriptor() const override { return lock_.descriptor(); }
    void process() override {
        eventfd_t value = 0;
        eventfd_read(lock_.descriptor(), &value);
    }
    bool locked() const override { return lock_.locked(); }

private:
    FakeSessionLock& lock_;
};

}  // namespace

input_event event(uint16_t type, uint16_t code, int32_t value) {
    input_event result{};
    result.type = type;
    result.code = code;
    result.value = value;
    return result;
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
        if (::poll(&entry, 1, kWaitMilliseconds) != 1) {
            return {};
        }
        input_event next{};
        if (::read(descriptor, &next, sizeof next) != sizeof next) {
            return {};
        }
        events.push_back(next);
        if (next.type == EV_SYN && next.code == SYN_REPORT) {
            return events;
        }
    }
}

FakeKeyboard::FakeKeyboard(std::string path, std::string name, bool keyboard,
                           std::set<uint16_t> keys)
    : node_{std::move(path), std::move(name), keyboard}, keys_(std::move(keys)) {
    std::tie(tapEnd_, testEnd_) = socketPair();
}

void FakeKeyboard::send(const std::vector<input_event>& events) {
    writeEvents(testEnd_.get(), events);
}

void FakeKeyboard::unplug() {
    testEnd_.reset();
}

void FakeKeyboard::setHeldKeys(EvdevKeySet held) {
    std::lock_guard lock(mutex_);
    held_ = held;
}

bool FakeKeyboard::waitUntilTaken(bool taken) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMilliseconds),
                             [&] { return grabbed_ == taken && hasCopy_ == taken; });
}

std::string FakeKeyboard::copyName() const {
    std::lock_guard lock(mutex_);
    return copyName_;
}

std::vector<input_event> FakeKeyboard::nextCopyFrame() {
    int descriptor = -1;
    {
        std::lock_guard lock(mutex_);
        descriptor = copyTestEnd_.get();
    }
    return descriptor < 0 ? std::vector<input_event>{} : readFrame(descriptor);
}

void FakeKeyboard::sendToCopy(const input_event& event) {
    std::lock_guard lock(mutex_);
    writeEvents(copyTestEnd_.get(), std::span(&event, 1));
}

std::optional<std::pair<uint16_t, int32_t>> FakeKeyboard::nextLed() {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(kWaitMilliseconds),
                           [&] { return !leds_.empty(); })) {
        return std::nullopt;
    }
    const auto led = leds_.front();
    leds_.erase(leds_.begin());
    return led;
}

EvdevKeySet FakeKeyboard::heldKeys() const {
    std::lock_guard lock(mutex_);
    return held_;
}

int FakeKeyboard::grab() {
    if (const int error = grabError_; error != 0) {
        return error;
    }
    {
        std::lock_guard lock(mutex_);
        grabbed_ = true;
    }
    changed_.notify_all();
    return 0;
}

void FakeKeyboard::ungrab() {
    {
        std::lock_guard lock(mutex_);
        grabbed_ = false;
    }
    changed_.notify_all();
}

std::expected<std::unique_ptr<VirtualInputDevice>, int> FakeKeyboard::createCopy(
    std::string_view name) {
    if (const int error = copyError_; error != 0) {
        return std::unexpected(error);
    }
    auto [tapEnd, testEnd] = socketPair();
    {
        std::lock_guard lock(mutex_);
        hasCopy_ = true;
        copyName_ = name;
        copyTestEnd_ = std::move(testEnd);
    }
    changed_.notify_all();
    return std::make_unique<FakeCopy>(shared_from_this(), std::move(tapEnd));
}

void FakeKeyboard::copyDestroyed() {
    {
        std::lock_guard lock(mutex_);
        hasCopy_ = false;
    }
    changed_.notify_all();
}

void FakeKeyboard::recordLed(uint16_t code, int32_t value) {
    {
        std::lock_guard lock(mutex_);
        leds_.emplace_back(code, value);
    }
    changed_.notify_all();
}

FakeInputSystem::FakeInputSystem() : changesSignal_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

std::shared_ptr<FakeKeyboard> FakeInputSystem::add(std::string name, bool keyboard,
                                                   std::set<uint16_t> keys) {
    std::lock_guard lock(mutex_);
    auto added = std::make_shared<FakeKeyboard>("/dev/input/event" + std::to_string(nextNumber_++),
                                                std::move(name), keyboard, std::move(keys));
    keyboards_.push_back(added);
    return added;
}

std::shared_ptr<FakeKeyboard> FakeInputSystem::plug(std::string name, bool keyboard) {
    auto added = add(std::move(name), keyboard);
    {
        std::lock_guard lock(mutex_);
        changes_.push_back({InputDeviceChange::Kind::added, added->node()});
    }
    eventfd_write(changesSignal_.get(), 1);
    return added;
}

void FakeInputSystem::remove(const std::shared_ptr<FakeKeyboard>& keyboard) {
    keyboard->unplug();
    {
        std::lock_guard lock(mutex_);
        std::erase(keyboards_, keyboard);
        changes_.push_back({InputDeviceChange::Kind::removed, keyboard->node()});
    }
    eventfd_write(changesSignal_.get(), 1);
}

std::unique_ptr<InputDeviceLayer> FakeInputSystem::makeLayer() {
    return std::make_unique<FakeLayer>(shared_from_this());
}

std::vector<std::shared_ptr<FakeKeyboard>> FakeInputSystem::keyboards() const {
    std::lock_guard lock(mutex_);
    return keyboards_;
}

std::vector<InputDeviceChange> FakeInputSystem::takeChanges() {
    eventfd_t value = 0;
    eventfd_read(changesSignal_.get(), &value);
    std::lock_guard lock(mutex_);
    return std::exchange(changes_, {});
}

FakeSessionLock::FakeSessionLock() : signal_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void FakeSessionLock::set(bool locked) {
    locked_ = locked;
    eventfd_write(signal_.get(), 1);
}

std::unique_ptr<SessionLockWatch> FakeSessionLock::makeWatch() {
    return std::make_unique<FakeLockWatch>(*this);
}

KeyboardTapDecision RecordingTapClient::decide(const KeyboardTapEvent& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    const std::pair key{event.device, event.keyCode};
    const auto held = held_.find(key);
    const KeyboardTapDecision fresh = assigned_.contains(event.keyCode)
                                          ? KeyboardTapDecision::consume
                                          : KeyboardTapDecision::pass;
    switch (event.transition) {
        case KeyTransition::down:
            if (held != held_.end()) {
                return held->second;
            }
            held_[key] = fresh;
            return fresh;
        case KeyTransition::repeat:
            return held != held_.end() ? held->second : fresh;
        case KeyTransition::up: {
            const KeyboardTapDecision decision =
                held != held_.end() ? held->second : KeyboardTapDecision::pass;
            if (held != held_.end()) {
                held_.erase(held);
            }
            return decision;
        }
    }
    return KeyboardTapDecision::pass;
}

std::vector<KeyboardTapEvent> RecordingTapClient::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

}  // namespace kelvra::testing
