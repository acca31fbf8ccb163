// SPDX-License-Identifier: MIT
#include "core/ManualMainThreadExecutor.h"

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

bool ManualMainThreadExecutor::isMainThread() const {
    return std::this_thread::get_id() == mainThread_;
}

std::function<void()> ManualMainThreadExecutor::takeNext() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return nullptr;
    }
    auto work = std::move(queue_.front());
    queue_.pop_front();
    return work;
}

int ManualMainThreadExecutor::runPending() {
    int count = 0;
    while (auto work = takeNext()) {
        work();
        ++count;
    }
    return count;
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
