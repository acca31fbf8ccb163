// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "clicker/KeyboardTapBackend.h"
#include "clicker/linux/InputDeviceLayer.h"
#include "clicker/linux/SessionLockWatch.h"
#include "core/UniqueFd.h"

namespace kelvra::testing {

/// A key event frame: the events, then SYN_REPORT.
std::vector<input_event> frame(std::initializer_list<std::pair<uint16_t, int32_t>> keys);
input_event event(uint16_t type, uint16_t code, int32_t value);

/// Reads whole frames (up to SYN_REPORT) from a descriptor, waiting up to ten seconds; an
/// empty frame means end of stream or timeout.
std::vector<input_event> readFrame(int descriptor);

/// One fake keyboard. The tap reads what the test sends over a socket pair, as it would read
/// an event device; a copy's events come out of another socket pair for the test to read.
class FakeKeyboard : public std::enable_shared_from_this<FakeKeyboard> {
public:
    FakeKeyboard(std::string path, std::string name, bool keyboard = true,
                 std::set<uint16_t> keys = {});

    const InputDeviceNode& node() const { return node_; }
    const std::set<uint16_t>& keys() const { return keys_; }

    // What the test sets.
    void send(const std::vector<input_event>& events);
    /// The device goes away: the tap's next read finds it gone.
    void unplug();
    void setHeldKeys(EvdevKeySet held);
    void setGrabError(int error) { grabError_ = error; }
    void setOpenError(int error) { openError_ = error; }
    void setCopyError(int error) { copyError_ = error; }
    int openError() const { return openError_; }

    // What the test observes.
    bool isGrabbed() const { return grabbed_; }
    /// Waits until the device is grabbed (true) or not (false) with a copy to match.
    bool waitUntilTaken(bool taken);
    /// The copy's name, once one was made.
    std::string copyName() const;
    /// The next frame the current copy emitted; empty once the copy is gone.
    std::vector<input_event> nextCopyFrame();
    /// Sends an LED change into the copy, as the desktop would.
    void sendToCopy(const input_event& event);
    /// Waits for an LED change to reach the device.
    std::optional<std::pair<uint16_t, int32_t>> nextLed();

    // What the fake layer calls.
    int tapDescriptor() const { return tapEnd_.get(); }
    EvdevKeySet heldKeys() const;
    int grab();
    void ungrab();
    std::expected<std::unique_ptr<VirtualInputDevice>, int> createCopy(std::string_view name);
    void copyDestroyed();
    void recordLed(uint16_t code, int32_t value);

private:
    InputDeviceNode node_;
    std::set<uint16_t> keys_;
    UniqueFd tapEnd_;
    UniqueFd testEnd_;
    std::atomic<int> grabError_{0};
    std::atomic<int> openError_{0};
    std::atomic<int> copyError_{0};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    EvdevKeySet held_;
    bool grabbed_ = false;
    bool hasCopy_ = false;
    std::string copyName_;
    UniqueFd copyTestEnd_;
    std::vector<std::pair<uint16_t, int32_t>> leds_;
};

/// The devices a fake layer lists and the changes it reports. The test keeps it; the layers
/// made from it read it.
class FakeInputSystem : public std::enable_shared_from_this<FakeInputSystem> {
public:
    FakeInputSystem();

    std::shared_ptr<FakeKeyboard> add(std::string name, bool keyboard = true,
                                      std::set<uint16_t> keys = {});
    /// Adds a keyboard after the listing, announced as plugged in.
    std::shared_ptr<FakeKeyboard> plug(std::string name, bool keyboard = true);
    /// Unplugs a keyboard and announces its removal.
    void remove(const std::shared_ptr<FakeKeyboard>& keyboard);
    void setVirtualDeviceError(int error) { virtualDeviceError_ = error; }

    std::unique_ptr<InputDeviceLayer> makeLayer();

    // What the fake layer calls.
    std::vector<std::shared_ptr<FakeKeyboard>> keyboards() const;
    int changesDescriptor() const { return changesSignal_.get(); }
    std::vector<InputDeviceChange> takeChanges();
    int virtualDeviceError() const { return virtualDeviceError_; }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FakeKeyboard>> keyboards_;
    std::vector<InputDeviceChange> changes_;
    UniqueFd changesSignal_;
    std::atomic<int> virtualDeviceError_{0};
    int nextNumber_ = 0;
};

/// A lock state the test switches.
class FakeSessionLock {
public:
    FakeSessionLock();
    void set(bool locked);
    std::unique_ptr<SessionLockWatch> makeWatch();

    int descriptor() const { return signal_.get(); }
    bool locked() const { return locked_; }

private:
    UniqueFd signal_;
    std::atomic<bool> locked_{false};
};

/// Decides like the engine, in small: the assigned key codes are consumed from their key-down
/// to their key-up; everything else passes. Records every event it is shown.
class RecordingTapClient final : public KeyboardTapClient {
public:
    explicit RecordingTapClient(std::set<uint16_t> assigned) : assigned_(std::move(assigned)) {}

    KeyboardTapDecision decide(const KeyboardTapEvent& event) override;
    void reportConflicts(std::vector<ClickerKeystroke>) override {}

    std::vector<KeyboardTapEvent> events() const;

private:
    const std::set<uint16_t> assigned_;
    mutable std::mutex mutex_;
    std::map<std::pair<uint32_t, uint16_t>, KeyboardTapDecision> held_;
    std::vector<KeyboardTapEvent> events_;
};

}  // namespace kelvra::testing
