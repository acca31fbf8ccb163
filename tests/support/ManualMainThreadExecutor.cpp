// SPDX-License-Identifier: MIT
#include "support/ManualMainThreadExecutor.h"

#include <algorithm>
#include <poll.h>
#include <vector>

namespace kelvra {
namespace {

constexpr std::chrono::milliseconds kPollInterval{20};
// Shorter while descriptors are watched, as no post announces them.
constexpr std::chrono::milliseconds kWatchPollInterval{2};

}  // namespace

/// Ends its watch when destroyed.
class ManualMainThreadExecutor::DescriptorWatch final : public DescriptorWatching::Watch {
public:
    explicit DescriptorWatch(std::function<void()> end) : end_(std::move(end)) {}
    ~DescriptorWatch() override { end_(); }

private:
    const std::function<void()> end_;
};

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

std::unique_ptr<DescriptorWatching::Watch> ManualMainThreadExecutor::watchReadable(
    int descriptor, std::function<void()> readable) {
    std::lock_guard lock(mutex_);
    const auto id = nextWatch_++;
    watches_[id] = {descriptor, std::make_shared<std::function<void()>>(std::move(readable))};
    return std::make_unique<DescriptorWatch>([this, id] {
        std::lock_guard watchesLock(mutex_);
        watches_.erase(id);
    });
}

bool ManualMainThreadExecutor::pollWatches(std::chrono::milliseconds timeout) {
    std::vector<pollfd> descriptors;
    std::vector<std::uint64_t> ids;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, watch] : watches_) {
            descriptors.push_back({watch.first, POLLIN, 0});
            ids.push_back(id);
        }
    }
    if (descriptors.empty() ||
        ::poll(descriptors.data(), descriptors.size(), static_cast<int>(timeout.count())) <= 0) {
        return false;
    }
    bool queued = false;
    std::lock_guard lock(mutex_);
    for (size_t index = 0; index < descriptors.size(); ++index) {
        if (descriptors[index].revents == 0) {
            continue;
        }
        // Looked up again when it runs: an earlier callback may have ended the watch.
        queue_.push_back([this, id = ids[index]] {
            std::shared_ptr<std::function<void()>> readable;
            {
                std::lock_guard watchesLock(mutex_);
                if (const auto found = watches_.find(id); found != watches_.end()) {
                    readable = found->second.second;
                }
            }
            if (readable) {
                (*readable)();
            }
        });
        queued = true;
    }
    return queued;
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
    do {
        while (auto work = takeNext()) {
            work();
            ++count;
        }
    } while (pollWatches(std::chrono::milliseconds(0)));
    return count;
}

int ManualMainThreadExecutor::advance(Duration duration) {
    int count = runPending();
    std::unique_lock lock(mutex_);
    const Duration target = now_ + duration;
    // Step from deadline to deadline within reach, so work that timers post sees its own time.
    while (!delayed_.empty() && delayed_.begin()->first.first <= target) {
        now_ = std::max(now_, delayed_.begin()->first.first);
        lock.unlock();
        count += runPending();
        lock.lock();
    }
    now_ = target;
    lock.unlock();
    return count + runPending();
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
        bool watching = false;
        {
            std::lock_guard lock(mutex_);
            watching = !watches_.empty();
        }
        if (watching) {
            pollWatches(kWatchPollInterval);
            continue;
        }
        // Wake now and then too: the condition may also change on other threads.
        std::unique_lock lock(mutex_);
        posted_.wait_until(lock,
                           std::min(deadline, std::chrono::steady_clock::now() + kPollInterval),
                           [this] { return !queue_.empty(); });
    }
}

bool ManualMainThreadExecutor::runInRealTimeUntil(const std::function<bool()>& condition,
                                                  std::chrono::milliseconds limit) {
    auto last = std::chrono::steady_clock::now();
    return runUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            advance(now - last);
            last = now;
            return condition();
        },
        limit);
}

}  // namespace kelvra
