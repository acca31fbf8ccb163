// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/eventfd.h>
#include <utility>
#include <vector>

#include "clicker/KeyboardTapBackend.h"
#include "clicker/linux/InputDeviceLayer.h"
#include "clicker/linux/SessionLockWatch.h"
#include "clicker/linux/VirtualCopyDescription.h"
#include "core/UniqueFd.h"

namespace kelvra::testing {

/// A key event frame: the events, then SYN_REPORT.
std::vector<input_event> frame(std::initializer_list<std::pair<uint16_t, int32_t>> keys);
input_event event(uint16_t type, uint16_t code, int32_t value);

/// Reads whole frames (up to SYN_REPORT) from a descriptor, waiting up to ten seconds; an
/// empty frame means end of stream or timeout.
std::vector<input_event> readFrame(int descriptor);

/// A USB presenter named "Kelvra Test Presenter": Page Up, Page Down and B, the Caps Lock LED
/// and key repeat.
LibevdevPointer presenterDescription();

/// One fake keyboard. The tap reads what the test sends over a socket pair, as it would read
/// an event device; a copy's events come out of another socket pair for the test to read.
/// The fake device the layer opens works on the state below, under `mutex`.
class FakeKeyboard {
public:
    explicit FakeKeyboard(InputDeviceNode listed);

    /// errno values the device answers opening, grabbing or copying it with; 0 succeeds.
    std::atomic<int> openError{0}, grabError{0}, copyError{0};
    /// Opens for the user at the seat, whatever `openError` says while they are away.
    std::atomic<bool> givenBySeat{true};
    /// The copy no longer takes events.
    std::atomic<bool> copyWriteFails{false};

    void send(const std::vector<input_event>& events);
    /// The device goes away: the tap's next read finds it gone, and it opens no more.
    void unplug() {
        int none = 0;
        openError.compare_exchange_strong(none, ENODEV);
        testEnd.reset();
    }

    bool isGrabbed() const {
        std::lock_guard lock(mutex);
        return grabbed;
    }

    /// Waits until the device is grabbed (true) or not (false) with a copy to match.
    bool waitUntilTaken(bool taken);
    /// Waits until no one holds the device open (nor grabbed, nor copied).
    bool waitUntilClosed();

    /// The next frame the current copy emitted; empty once the copy is gone.
    std::vector<input_event> nextCopyFrame();

    /// Changes the state under the lock and wakes the waiters.
    template <typename Change>
    void change(Change apply) {
        {
            std::lock_guard lock(mutex);
            apply();
        }
        changed.notify_all();
    }

    const InputDeviceNode node;
    UniqueFd tapEnd, testEnd;
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool grabbed = false;
    bool hasCopy = false;
    int openCount = 0;
    UniqueFd copyTestEnd;
};

/// The devices a fake layer lists and the changes it reports. The test keeps it; the layers
/// made from it read it.
class FakeInputSystem : public std::enable_shared_from_this<FakeInputSystem> {
public:
    std::shared_ptr<FakeKeyboard> add(std::string name, bool keyboard = true,
                                      const std::set<uint16_t>& keys = {});
    /// Adds a keyboard after the listing, announced as plugged in.
    std::shared_ptr<FakeKeyboard> plug(std::string name);
    /// Every device listed now.
    std::vector<std::shared_ptr<FakeKeyboard>> devices() const;
    /// Unplugs a keyboard and announces its removal.
    void remove(const std::shared_ptr<FakeKeyboard>& keyboard);
    /// Lists, unannounced, one of its name in a keyboard's place, at the node it left, as the
    /// kernel reuses event numbers; `announceRemoval` tells of the first one, late.
    std::shared_ptr<FakeKeyboard> replug(const std::shared_ptr<FakeKeyboard>& keyboard);
    void announceRemoval(const std::shared_ptr<FakeKeyboard>& keyboard) {
        announce({InputDeviceChange::Kind::removed, keyboard->node});
    }
    void announce(InputDeviceChange change);
    std::unique_ptr<InputDeviceLayer> makeLayer();

    std::atomic<int> virtualDeviceError{0};
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<FakeKeyboard>> keyboards;
    std::vector<InputDeviceChange> changes;
    UniqueFd changesSignal{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    int nextNumber = 0;
};

/// A session state the test switches while the tap owns it.
class FakeSessionLock final : public SessionLockWatch {
public:
    explicit FakeSessionLock(SessionState initial = {}) : state_(initial) {}

    void set(bool locked) { change({{.locked = locked, .active = state().active}}); }
    void setActive(bool active) { change({{.locked = state().locked, .active = active}}); }
    /// The session goes through these states before the tap next looks.
    void change(const std::vector<SessionState>& states) {
        {
            std::lock_guard lock(mutex_);
            changes_.insert(changes_.end(), states.begin(), states.end());
            state_ = states.back();
        }
        eventfd_write(signal_.get(), 1);
    }

    int descriptor() const override { return signal_.get(); }
    std::vector<SessionState> process() override {
        eventfd_t value = 0;
        eventfd_read(signal_.get(), &value);
        std::lock_guard lock(mutex_);
        return std::exchange(changes_, {});
    }
    SessionState state() const override {
        std::lock_guard lock(mutex_);
        return state_;
    }

private:
    UniqueFd signal_{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    mutable std::mutex mutex_;
    SessionState state_;
    std::vector<SessionState> changes_;
};

/// Decides like the engine, in small: the assigned key codes are consumed from their key-down
/// to their key-up; everything else passes. Records every event it is shown.
class RecordingTapClient final : public KeyboardTapClient {
public:
    explicit RecordingTapClient(std::set<uint16_t> assigned) : assigned_(std::move(assigned)) {}

    KeyboardTapDecision decide(const KeyboardTapEvent& event) override;
    void forgetDevice(uint32_t device) override;
    void reportConflicts(std::vector<ClickerKeystroke>) override {}

    std::vector<KeyboardTapEvent> events() const;
    /// How many keys it holds a decision for.
    size_t heldCount() const;

private:
    const std::set<uint16_t> assigned_;
    mutable std::mutex mutex_;
    std::map<std::pair<uint32_t, uint16_t>, KeyboardTapDecision> held_;
    std::vector<KeyboardTapEvent> events_;
};

}  // namespace kelvra::testing
