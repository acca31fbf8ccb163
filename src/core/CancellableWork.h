// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <memory>

namespace kelvra {

/// A handle on work scheduled for later; cancelling it before it starts means it never runs.
/// Cancelling work that has started or finished does nothing. Copies share the same work; a
/// default-constructed handle refers to no work.
class CancellableWork {
public:
    CancellableWork() = default;

    /// A handle for newly scheduled work, not cancelled yet.
    static CancellableWork create() {
        return CancellableWork(std::make_shared<std::atomic<bool>>(false));
    }

    void cancel() const {
        if (cancelled_) {
            cancelled_->store(true);
        }
    }

    bool isCancelled() const { return cancelled_ && cancelled_->load(); }

private:
    explicit CancellableWork(std::shared_ptr<std::atomic<bool>> cancelled)
        : cancelled_(std::move(cancelled)) {}

    std::shared_ptr<std::atomic<bool>> cancelled_;
};

}  // namespace kelvra
