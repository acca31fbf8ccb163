// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace kelvra {

/// A handle on work scheduled for later; cancelling it before it starts means it never runs.
/// Cancelling work that has started or finished does nothing. Copies share the same work; a
/// default-constructed handle refers to no work.
class CancellableWork {
public:
    CancellableWork() = default;

    /// A handle for newly scheduled work, not cancelled yet. `onCancel`, when given, runs once,
    /// on the cancelling thread, at the first cancel: a scheduler uses it to disarm its timer,
    /// so cancelled work costs no wakeup. It must be quick and take no lock of the caller's.
    static CancellableWork create(std::function<void()> onCancel = nullptr) {
        auto state = std::make_shared<State>();
        state->onCancel = std::move(onCancel);
        return CancellableWork(std::move(state));
    }

    void cancel() const {
        if (state_ && !state_->cancelled.exchange(true) && state_->onCancel) {
            state_->onCancel();
        }
    }

    bool isCancelled() const { return state_ && state_->cancelled.load(); }

private:
    struct State {
        std::atomic<bool> cancelled = false;
        std::function<void()> onCancel;
    };

    explicit CancellableWork(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::shared_ptr<State> state_;
};

}  // namespace kelvra
