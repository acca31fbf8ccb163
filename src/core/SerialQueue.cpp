// SPDX-License-Identifier: MIT
#include "core/SerialQueue.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <vector>

#include "core/UniqueFd.h"

namespace kelvra {

struct SerialQueue::State {
    struct Delayed {
        std::function<void()> work;
        CancellableWork handle;
    };
    struct Watched {
        int descriptor;
        std::shared_ptr<std::function<void()>> readable;
    };

    /// Wakes the thread from its poll; a full counter means it is awake already.
    void wake() const {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeUp.get(), &one, sizeof one);
    }

    /// Calls back every watch whose descriptor `poll` found readable, looking each up again:
    /// an earlier callback may have ended it.
    void callReadable(const std::vector<pollfd>& descriptors, const std::vector<uint64_t>& ids);

    const UniqueFd wakeUp{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::mutex mutex;
    std::deque<std::function<void()>> immediate;
    std::multimap<Clock::time_point, Delayed> delayed;
    std::map<uint64_t, Watched> watches;
    uint64_t nextWatch = 0;
    bool shuttingDown = false;
};

class SerialQueue::DescriptorWatch final : public DescriptorWatching::Watch {
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
    state_->wake();
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
    state_->wake();
}

CancellableWork SerialQueue::asyncAfter(Clock::duration delay, std::function<void()> work) {
    const auto handle = CancellableWork::create();
    {
        std::lock_guard lock(state_->mutex);
        if (state_->shuttingDown) {
            return handle;
        }
        state_->delayed.emplace(Clock::now() + delay, State::Delayed{std::move(work), handle});
    }
    state_->wake();
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

std::unique_ptr<DescriptorWatching::Watch> SerialQueue::watchReadable(
    int descriptor, std::function<void()> readable) {
    uint64_t id = 0;
    {
        std::lock_guard lock(state_->mutex);
        id = state_->nextWatch++;
        state_->watches[id] = {descriptor,
                               std::make_shared<std::function<void()>>(std::move(readable))};
    }
    // A watch added from elsewhere joins the set the thread polls.
    state_->wake();
    return std::make_unique<DescriptorWatch>(state_, id);
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == thread_.get_id();
}

void SerialQueue::State::callReadable(const std::vector<pollfd>& descriptors,
                                      const std::vector<uint64_t>& ids) {
    for (size_t index = 1; index < descriptors.size(); ++index) {
        if (descriptors[index].revents == 0) {
            continue;
        }
        std::shared_ptr<std::function<void()>> readable;
        {
            std::lock_guard lock(mutex);
            if (const auto found = watches.find(ids[index - 1]);
                found != watches.end() && !shuttingDown) {
                readable = found->second.readable;
            }
        }
        if (readable) {
            (*readable)();
        }
    }
}

void SerialQueue::run(const std::shared_ptr<State>& state) {
    std::vector<pollfd> descriptors;
    std::vector<uint64_t> ids;
    std::vector<State::Delayed> cancelled;
    std::unique_lock lock(state->mutex);
    while (!state->shuttingDown) {
        // Drop cancelled items early so a queue that reschedules often does not hoard them;
        // destroyed outside the lock, as a capture's destructor may post to this queue.
        auto& delayed = state->delayed;
        while (!delayed.empty() && delayed.begin()->second.handle.isCancelled()) {
            cancelled.push_back(std::move(delayed.begin()->second));
            delayed.erase(delayed.begin());
        }
        // Immediate work first, so its order against delayed work does not hang on how late the
        // thread gets to it.
        std::function<void()> work;
        if (!state->immediate.empty()) {
            work = std::move(state->immediate.front());
            state->immediate.pop_front();
        } else if (!delayed.empty() && delayed.begin()->first <= Clock::now()) {
            work = [item = std::move(delayed.begin()->second)] {
                if (!item.handle.isCancelled()) {
                    item.work();
                }
            };
            delayed.erase(delayed.begin());
        }
        if (work || !cancelled.empty()) {
            lock.unlock();
            cancelled.clear();
            if (work) {
                work();
                work = nullptr;  // release captured state before taking the lock again
            }
            lock.lock();
            continue;
        }
        // Nothing due: wait for an item, a deadline or a watched descriptor.
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
            // Drained only when it woke us: a watched descriptor alone needs no read of it.
            if (descriptors[0].revents != 0) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t drained =
                    ::read(state->wakeUp.get(), &count, sizeof count);
            }
            state->callReadable(descriptors, ids);
        }
        lock.lock();
    }
}

}  // namespace kelvra
