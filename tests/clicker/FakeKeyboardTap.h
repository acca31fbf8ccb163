// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <vector>

#include "clicker/KeyboardTapBackend.h"
#include "core/UniqueFd.h"

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
        bool running = false;
        bool loseSource = false;
        int opened = 0;
        int runs = 0;
        std::deque<KeyboardTapEvent> pending;
        std::vector<KeyboardTapDecision> decisions;
        std::vector<std::shared_ptr<const KeyboardTapConfiguration>> configurations;
        std::optional<std::vector<ClickerKeystroke>> conflictsToReport;
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
            ++control_->runs;
            control_->atRunEntry = true;
            control_->changed.notify_all();
            control_->changed.wait(lock, [&] { return !control_->holdAtRunEntry; });
            control_->running = true;
        }
        const auto outcome = loop(stopDescriptor, client);
        control_->update([](Control& control) { control.running = false; });
        return outcome;
    }

private:
    KeyboardTapRunOutcome loop(int stopDescriptor, KeyboardTapClient& client) {
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
            for (const auto& event : events) {
                const auto decision = client.decide(event);
                control_->update([&](Control& control) { control.decisions.push_back(decision); });
            }
            if (lost) {
                return KeyboardTapRunOutcome::sourceLost;
            }
        }
    }

    std::shared_ptr<Control> control_;
};

}  // namespace kelvra::testing
