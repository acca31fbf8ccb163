// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <thread>
#include <vector>

#include "clicker/ClickerInputMonitor.h"
#include "clicker/KeyboardTapBackend.h"
#include "clicker/KeyboardTapChoice.h"
#include "core/UniqueFd.h"
#include "support/ManualMainThreadExecutor.h"
#include "support/RecordingLog.h"

namespace kelvra::testing {

/// A keyboard tap that tests drive: they inject key events and read the decisions, hold the
/// tap at the entry of its run, make it lose its source or report conflicts. The control block
/// outlives the backend, so a test keeps it after handing the backend to a monitor.
class FakeKeyboardTap final : public KeyboardTapBackend {
public:
    struct Control {
        std::mutex mutex;
        std::condition_variable changed;
        std::optional<std::string> openError;
        bool holdAtRunEntry = false;
        bool atRunEntry = false;
        bool loseSource = false;
        int opened = 0;
        int running = 0;
        /// A run began while another one had not returned yet: two taps held the keyboards.
        bool overlapped = false;
        std::deque<KeyboardTapEvent> pending;
        std::vector<KeyboardTapDecision> decisions;
        std::vector<std::shared_ptr<const KeyboardTapConfiguration>> configurations;
        std::optional<std::vector<ClickerKeystroke>> conflictsToReport;
        /// When set, what `decide` allocated on the tap thread is added to `allocatedInDecide`.
        uint64_t (*allocationsOnThisThread)() = nullptr;
        uint64_t allocatedInDecide = 0;
        UniqueFd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};

        template <typename Condition>
        bool waitUntil(Condition condition, std::chrono::seconds limit = std::chrono::seconds(10)) {
            std::unique_lock lock(mutex);
            return changed.wait_for(lock, limit, condition);
        }

        /// Changes the control under its lock and wakes the running tap.
        template <typename Change>
        void update(Change change) {
            {
                std::lock_guard lock(mutex);
                change(*this);
            }
            ::eventfd_write(wake.get(), 1);
            changed.notify_all();
        }

        void inject(const KeyboardTapEvent& event) {
            update([&](Control& control) { control.pending.push_back(event); });
        }
    };

    explicit FakeKeyboardTap(std::shared_ptr<Control> control) : control_(std::move(control)) {}

    std::expected<void, KeyboardTapError> open() override {
        std::lock_guard lock(control_->mutex);
        if (control_->openError) {
            return std::unexpected(KeyboardTapError{*control_->openError});
        }
        ++control_->opened;
        return {};
    }

    void setConfiguration(std::shared_ptr<const KeyboardTapConfiguration> configuration) override {
        control_->update(
            [&](Control& control) { control.configurations.push_back(std::move(configuration)); });
    }

    KeyboardTapRunOutcome run(int stopDescriptor, KeyboardTapClient& client) override {
        {
            std::unique_lock lock(control_->mutex);
            control_->overlapped = control_->overlapped || control_->running > 0;
            ++control_->running;
            control_->atRunEntry = true;
            control_->changed.notify_all();
            control_->changed.wait(lock, [&] { return !control_->holdAtRunEntry; });
        }
        const auto outcome = tap(stopDescriptor, client);
        control_->update([](Control& control) { --control.running; });
        return outcome;
    }

private:
    KeyboardTapRunOutcome tap(int stopDescriptor, KeyboardTapClient& client) {
        while (true) {
            pollfd descriptors[] = {{stopDescriptor, POLLIN, 0}, {control_->wake.get(), POLLIN, 0}};
            ::poll(descriptors, 2, -1);
            if (descriptors[0].revents != 0) {
                return KeyboardTapRunOutcome::stopped;
            }
            eventfd_t ignored = 0;
            ::eventfd_read(control_->wake.get(), &ignored);
            std::deque<KeyboardTapEvent> events;
            std::optional<std::vector<ClickerKeystroke>> conflicts;
            bool lost = false;
            {
                std::lock_guard lock(control_->mutex);
                events.swap(control_->pending);
                conflicts.swap(control_->conflictsToReport);
                lost = control_->loseSource;
            }
            if (conflicts) {
                client.reportConflicts(*conflicts);
            }
            const auto allocations = control_->allocationsOnThisThread;
            for (const auto& event : events) {
                const uint64_t before = allocations ? allocations() : 0;
                const auto decision = client.decide(event);
                const uint64_t allocated = allocations ? allocations() - before : 0;
                control_->update([&](Control& control) {
                    control.decisions.push_back(decision);
                    control.allocatedInDecide += allocated;
                });
            }
            if (lost) {
                return KeyboardTapRunOutcome::sourceLost;
            }
        }
    }

    std::shared_ptr<Control> control_;
};

/// A monitor over the taps that `backends` open, with everything it reports recorded.
struct RecordedMonitor {
    std::shared_ptr<ClickerInputMonitor> make(KeyboardTapBackends backends,
                                              std::optional<std::string> forced = std::nullopt) {
        return ClickerInputMonitor::create(
            log, mainThread, [backends, forced] { return openKeyboardTap(backends, forced); },
            [this](ClickerCapturedInput input) {
                std::lock_guard lock(mutex);
                inputs.push_back(input);
                inputThreads.push_back(std::this_thread::get_id());
                delivered.notify_all();
            },
            {[this](ClickerInputListenerState state) { states.push_back(state); },
             [this](std::vector<ClickerKeystroke> keystrokes) {
                 conflicts.push_back(std::move(keystrokes));
             }},
            ClickerInputConfiguration::defaults());
    }

    bool runUntilState(ClickerInputListenerState state) {
        return mainThread->runUntil([&] { return !states.empty() && states.back() == state; },
                                    std::chrono::seconds(10));
    }

    /// Waits until `count` inputs were delivered.
    bool waitForInputs(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        return delivered.wait_for(lock, limit, [&] { return inputs.size() >= count; });
    }

    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
    std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::vector<ClickerInputListenerState> states;
    std::vector<std::vector<ClickerKeystroke>> conflicts;
    // Inputs arrive on the tap thread.
    std::mutex mutex;
    std::condition_variable delivered;
    std::vector<ClickerCapturedInput> inputs;
    std::vector<std::thread::id> inputThreads;
};

/// A listener that records what it is told, with the reports it was made to give.
struct FakeClickerMonitor final : ClickerInputMonitoring {
    explicit FakeClickerMonitor(ClickerInputMonitorReports given = {})
        : reports(std::move(given)) {}
    void start(std::shared_ptr<ClickerInputMonitoring> waitsFor) override {
        calls.push_back("start");
        predecessor = std::move(waitsFor);
    }
    void stop() override { calls.push_back("stop"); }
    void join() override { calls.push_back("join"); }
    void setConfiguration(const ClickerInputConfiguration& value) override {
        configuration = value;
    }
    void setRecordingRequired(bool value) override { recording = value; }

    ClickerInputMonitorReports reports;
    std::shared_ptr<ClickerInputMonitoring> predecessor;
    std::vector<std::string> calls;
    ClickerInputConfiguration configuration;
    bool recording = false;
};

}  // namespace kelvra::testing
