// SPDX-License-Identifier: MIT
#include "core/SerialQueue.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace kelvra {

struct SerialQueue::State {
    struct Delayed {
        std::function<void()> work;
        CancellableWork handle;
    };

    std::mutex mutex;
    std::condition_variable wakeUp;
    std::deque<std::function<void()>> immediate;
    std::multimap<Clock::time_point, Delayed> delayed;
    bool shuttingDown = false;
};

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
    thread_ = std::thread([state = state_] { run(state); });
    // Linux thread names hold at most 15 bytes; the last part of a reverse-DNS label tells most.
    const std::string lastPart =
        label_.substr(label_.rfind('.') == std::string::npos ? 0 : label_.rfind('.') + 1);
    pthread_setname_np(thread_.native_handle(), lastPart.substr(0, 15).c_str());
}

SerialQueue::~SerialQueue() {
    std::deque<std::function<void()>> immediate;
    std::multimap<Clock::time_point, State::Delayed> delayed;
    {
        std::lock_guard lock(state_->mutex);
        state_->shuttingDown = true;
        immediate.swap(state_->immediate);
        delayed.swap(state_->delayed);
    }
    state_->wakeUp.notify_one();
    // Discarded outside the lock: a capture's destructor may post to this queue.
    immediate.clear();
    delayed.clear();
    if (isCurrent()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->shuttingDown) {
            return;
        }
        state_->immediate.push_back(std::move(work));
    }
    state_->wakeUp.notify_one();
}

CancellableWork SerialQueue::asyncAfter(Clock::duration delay, std::function<void()> work) {
    const auto handle = CancellableWork::create();
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->shuttingDown) {
            state_->delayed.emplace(Clock::now() + delay, State::Delayed{std::move(work), handle});
        }
    }
    state_->wakeUp.notify_one();
    return handle;
}

bool SerialQueue::sync(std::function<void()> work) {
    // The item owns the promise, so an item the queue discards unrun breaks it.
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    async([&work, done = std::move(done)] {
        work();
        done->set_value();
    });
    finished.wait();
    try {
        finished.get();
        return true;
    } catch (const std::future_error&) {
        return false;
    }
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == thread_.get_id();
}

void SerialQueue::run(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    std::vector<State::Delayed> cancelled;
    while (!state->shuttingDown) {
        // Drop cancelled items early so a queue that reschedules often does not hoard them;
        // destroyed outside the lock, as a capture's destructor may post to this queue.
        auto& delayed = state->delayed;
        while (!delayed.empty() && delayed.begin()->second.handle.isCancelled()) {
            cancelled.push_back(std::move(delayed.begin()->second));
            delayed.erase(delayed.begin());
        }
        if (!cancelled.empty()) {
            lock.unlock();
            cancelled.clear();
            lock.lock();
            continue;
        }
        std::function<void()> work;
        if (!delayed.empty() && delayed.begin()->first <= Clock::now()) {
            auto item = std::move(delayed.begin()->second);
            delayed.erase(delayed.begin());
            work = [item = std::move(item)] {
                if (!item.handle.isCancelled()) {
                    item.work();
                }
            };
        } else if (!state->immediate.empty()) {
            work = std::move(state->immediate.front());
            state->immediate.pop_front();
        } else if (!delayed.empty()) {
            // A copy: the destructor may clear the map while this thread waits.
            const auto deadline = delayed.begin()->first;
            state->wakeUp.wait_until(lock, deadline);
            continue;
        } else {
            state->wakeUp.wait(lock);
            continue;
        }
        lock.unlock();
        work();
        work = nullptr;  // release captured state before taking the lock again
        lock.lock();
    }
}

}  // namespace kelvra
