// SPDX-License-Identifier: MIT
#include "core/QueueMainThreadExecutor.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <vector>

#include "core/UniqueFd.h"

namespace kelvra {

using Clock = std::chrono::steady_clock;

struct QueueMainThreadExecutor::State {
    struct Delayed {
        std::function<void()> work;
        CancellableWork handle;
    };
    struct Watched {
        int descriptor;
        std::shared_ptr<std::function<void()>> readable;
    };

    /// Wakes the thread from its poll when work arrives from elsewhere.
    void wake() const {
        const uint64_t one = 1;
        // An eventfd takes 8 bytes at once; a full counter is awake already.
        [[maybe_unused]] const ssize_t written = ::write(wakeUp.get(), &one, sizeof one);
    }

    const UniqueFd wakeUp{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::mutex mutex;
    std::deque<std::function<void()>> immediate;
    std::multimap<Clock::time_point, Delayed> delayed;
    std::map<uint64_t, Watched> watches;
    uint64_t nextWatch = 0;
    bool ended = false;
};

class QueueMainThreadExecutor::DescriptorWatch final : public DescriptorWatching::Watch {
public:
    DescriptorWatch(std::shared_ptr<State> state, uint64_t id)
        : state_(std::move(state)), id_(id) {}

    ~DescriptorWatch() override {
        std::lock_guard lock(state_->mutex);
        state_->watches.erase(id_);
    }

private:
    const std::shared_ptr<State> state_;
    const uint64_t id_;
};

QueueMainThreadExecutor::QueueMainThreadExecutor() : state_(std::make_shared<State>()) {
    thread_ = std::thread([state = state_] { run(state); });
    pthread_setname_np(thread_.native_handle(), "main");
}

QueueMainThreadExecutor::~QueueMainThreadExecutor() {
    std::deque<std::function<void()>> immediate;
    std::multimap<Clock::time_point, State::Delayed> delayed;
    {
        std::lock_guard lock(state_->mutex);
        state_->ended = true;
        immediate.swap(state_->immediate);
        delayed.swap(state_->delayed);
    }
    state_->wake();
    // Dropped outside the lock: a capture's destructor may post.
    immediate.clear();
    delayed.clear();
    if (isMainThread()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void QueueMainThreadExecutor::post(std::function<void()> work) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->ended) {
            return;
        }
        state_->immediate.push_back(std::move(work));
    }
    state_->wake();
}

CancellableWork QueueMainThreadExecutor::postDelayed(Duration delay, std::function<void()> work) {
    const auto handle = CancellableWork::create();
    {
        std::lock_guard lock(state_->mutex);
        if (state_->ended) {
            return handle;
        }
        state_->delayed.emplace(Clock::now() + delay, State::Delayed{std::move(work), handle});
    }
    state_->wake();
    return handle;
}

bool QueueMainThreadExecutor::isMainThread() const {
    return std::this_thread::get_id() == thread_.get_id();
}

std::unique_ptr<DescriptorWatching::Watch> QueueMainThreadExecutor::watchReadable(
    int descriptor, std::function<void()> readable) {
    std::lock_guard lock(state_->mutex);
    const auto id = state_->nextWatch++;
    state_->watches[id] = {descriptor,
                           std::make_shared<std::function<void()>>(std::move(readable))};
    return std::make_unique<DescriptorWatch>(state_, id);
}

void QueueMainThreadExecutor::run(const std::shared_ptr<State>& state) {
    std::vector<pollfd> descriptors;
    std::vector<uint64_t> ids;
    std::unique_lock lock(state->mutex);
    while (!state->ended) {
        std::function<void()> work;
        auto& delayed = state->delayed;
        if (!state->immediate.empty()) {
            work = std::move(state->immediate.front());
            state->immediate.pop_front();
        } else if (!delayed.empty() && delayed.begin()->first <= Clock::now()) {
            auto item = std::move(delayed.begin()->second);
            delayed.erase(delayed.begin());
            work = [item = std::move(item)] {
                if (!item.handle.isCancelled()) {
                    item.work();
                }
            };
        }
        if (work) {
            lock.unlock();
            work();
            work = nullptr;  // release captured state before taking the lock again
            lock.lock();
            continue;
        }
        // Nothing due: wait for a post, a deadline or a watched descriptor. Watches change on
        // this thread only, so the set polled is current.
        int timeout = -1;
        if (!delayed.empty()) {
            const auto wait =
                std::chrono::ceil<std::chrono::milliseconds>(delayed.begin()->first - Clock::now());
            timeout = static_cast<int>(std::max<int64_t>(wait.count(), 0));
        }
        descriptors.assign(1, {state->wakeUp.get(), POLLIN, 0});
        ids.clear();
        for (const auto& [id, watched] : state->watches) {
            descriptors.push_back({watched.descriptor, POLLIN, 0});
            ids.push_back(id);
        }
        lock.unlock();
        if (::poll(descriptors.data(), descriptors.size(), timeout) > 0) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t drained =
                ::read(state->wakeUp.get(), &count, sizeof count);
            for (size_t index = 1; index < descriptors.size(); ++index) {
                if (descriptors[index].revents == 0) {
                    continue;
                }
                // Looked up again: an earlier callback may have ended this watch.
                std::shared_ptr<std::function<void()>> readable;
                {
                    std::lock_guard watchesLock(state->mutex);
                    if (const auto found = state->watches.find(ids[index - 1]);
                        found != state->watches.end() && !state->ended) {
                        readable = found->second.readable;
                    }
                }
                if (readable) {
                    (*readable)();
                }
            }
        }
        lock.lock();
    }
}

}  // namespace kelvra
