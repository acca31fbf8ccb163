// SPDX-License-Identifier: MIT
#include "core/SerialQueue.h"

#include <future>
#include <pthread.h>

namespace kelvra {

void CancellableWork::cancel() const {
    if (cancelled_) {
        cancelled_->store(true);
    }
}

bool CancellableWork::isCancelled() const {
    return cancelled_ && cancelled_->load();
}

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    thread_ = std::thread([this] { run(); });
    // Linux thread names hold at most 15 bytes; the end of a reverse-DNS label is the telling part.
    const std::string shortName = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(thread_.native_handle(), shortName.c_str());
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        shuttingDown_ = true;
    }
    wakeUp_.notify_one();
    thread_.join();
}

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (shuttingDown_) {
            return;
        }
        immediate_.push_back(std::move(work));
    }
    wakeUp_.notify_one();
}

CancellableWork SerialQueue::asyncAfter(Clock::duration delay, std::function<void()> work) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(mutex_);
        if (!shuttingDown_) {
            delayed_.emplace(Clock::now() + delay, Delayed{std::move(work), cancelled});
        }
    }
    wakeUp_.notify_one();
    return CancellableWork(cancelled);
}

void SerialQueue::sync(std::function<void()> work) {
    std::promise<void> done;
    async([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == thread_.get_id();
}

void SerialQueue::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        if (shuttingDown_) {
            return;
        }
        // Drop cancelled items early so a queue that reschedules often does not hoard them.
        while (!delayed_.empty() && delayed_.begin()->second.cancelled->load()) {
            delayed_.erase(delayed_.begin());
        }
        std::function<void()> work;
        if (!delayed_.empty() && delayed_.begin()->first <= Clock::now()) {
            auto item = std::move(delayed_.begin()->second);
            delayed_.erase(delayed_.begin());
            work = [item = std::move(item)] {
                if (!item.cancelled->load()) {
                    item.work();
                }
            };
        } else if (!immediate_.empty()) {
            work = std::move(immediate_.front());
            immediate_.pop_front();
        } else if (!delayed_.empty()) {
            wakeUp_.wait_until(lock, delayed_.begin()->first);
            continue;
        } else {
            wakeUp_.wait(lock);
            continue;
        }
        lock.unlock();
        work();
        work = nullptr;  // release captured state before taking the lock again
        lock.lock();
    }
}

}  // namespace kelvra
