// SPDX-License-Identifier: MIT
#include "support/ManualMainThreadExecutor.h"

#include <algorithm>

namespace kelvra {
namespace {

constexpr std::chrono::milliseconds kPollInterval{20};

}  // namespace

void ManualMainThreadExecutor::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    posted_.notify_all();
}

CancellableWork ManualMainThreadExecutor::postDelayed(Duration delay, std::function<void()> work) {
    const auto handle = CancellableWork::create();
    std::lock_guard lock(mutex_);
    delayed_.emplace(std::pair{now_ + std::max(delay, Duration::zero()), nextSequence_++},
                     Delayed{std::move(work), handle});
    return handle;
}

bool ManualMainThreadExecutor::isMainThread() const {
    return std::this_thread::get_id() == mainThread_;
}

std::function<void()> ManualMainThreadExecutor::takeNext() {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
        auto work = std::move(queue_.front());
        queue_.pop_front();
        return work;
    }
    while (!delayed_.empty() && delayed_.begin()->first.first <= now_) {
        auto item = std::move(delayed_.begin()->second);
        delayed_.erase(delayed_.begin());
        if (!item.handle.isCancelled()) {
            return std::move(item.work);
        }
    }
    return nullptr;
}

int ManualMainThreadExecutor::runPending() {
    int count = 0;
    while (auto work = takeNext()) {
        work();
        ++count;
    }
    return count;
}

bool ManualMainThreadExecutor::waitForPending(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, limit, [&] { return !queue_.empty(); });
}

int ManualMainThreadExecutor::advance(Duration duration) {
    Duration target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + duration;
    }
    int count = runPending();
    while (true) {
        {
            std::lock_guard lock(mutex_);
            // Step to the next deadline within reach, so work that timers post sees its own time.
            now_ = delayed_.empty() ? target : std::min(target, delayed_.begin()->first.first);
        }
        count += runPending();
        std::lock_guard lock(mutex_);
        if (now_ == target && (delayed_.empty() || delayed_.begin()->first.first > target)) {
            return count;
        }
    }
}

bool ManualMainThreadExecutor::runUntil(const std::function<bool()>& condition,
                                        std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        runPending();
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        // Wake now and then too: the condition may also change on other threads.
        std::unique_lock lock(mutex_);
        posted_.wait_until(lock,
                           std::min(deadline, std::chrono::steady_clock::now() + kPollInterval),
                           [this] { return !queue_.empty(); });
    }
}

}  // namespace kelvra
