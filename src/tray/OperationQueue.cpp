// SPDX-License-Identifier: MIT
#include "tray/OperationQueue.h"

#include <utility>

namespace kelvra {

std::shared_ptr<OperationQueue> OperationQueue::create(
    std::shared_ptr<MainThreadExecutor> mainThread) {
    return std::shared_ptr<OperationQueue>(new OperationQueue(std::move(mainThread)));
}

void OperationQueue::enqueue(Operation operation) {
    if (closed_) {
        operation.abandon();
        return;
    }
    waiting_.push_back(std::move(operation));
    runNext();
}

void OperationQueue::close() {
    closed_ = true;
    for (auto& operation : std::exchange(waiting_, {})) {
        operation.abandon();
    }
    runNext();
}

void OperationQueue::whenIdle(std::function<void()> work) {
    idleWaiters_.push_back(std::move(work));
    runNext();
}

void OperationQueue::runNext() {
    if (running_) {
        return;
    }
    if (waiting_.empty()) {
        for (auto& work : std::exchange(idleWaiters_, {})) {
            work();
        }
        return;
    }
    Operation operation = std::move(waiting_.front());
    waiting_.pop_front();
    running_ = true;
    operation.run([weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) {
            self->finished();
        }
    });
}

void OperationQueue::finished() {
    running_ = false;
    if (waiting_.empty()) {
        runNext();
        return;
    }
    // The next operation begins on a fresh turn of the main loop, not inside a completion.
    mainThread_->post([weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) {
            self->runNext();
        }
    });
}

}  // namespace kelvra
