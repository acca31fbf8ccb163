// SPDX-License-Identifier: MIT
#include "backend/BackendCommandChannel.h"

#include <cerrno>

#include "core/Uuid.h"

namespace kelvra {
namespace {

const BackendSupervisorError kUnavailable(BackendSupervisorError::Kind::backendUnavailable);

}  // namespace

std::shared_ptr<BackendCommandChannel> BackendCommandChannel::create(
    std::shared_ptr<LogSink> log, std::shared_ptr<MainThreadExecutor> mainThread,
    BackendSupervisorTimeouts::Seconds requestTimeout) {
    return std::shared_ptr<BackendCommandChannel>(
        new BackendCommandChannel(std::move(log), std::move(mainThread), requestTimeout));
}

BackendCommandChannel::BackendCommandChannel(std::shared_ptr<LogSink> log,
                                             std::shared_ptr<MainThreadExecutor> mainThread,
                                             BackendSupervisorTimeouts::Seconds requestTimeout)
    : log_(std::move(log)), mainThread_(std::move(mainThread)), requestTimeout_(requestTimeout) {}

BackendCommandChannel::~BackendCommandChannel() {
    keys_->close();
    failAllPending();
}

void BackendCommandChannel::attach(std::shared_ptr<UniqueFd> input) {
    std::lock_guard lock(mutex_);
    input_ = std::move(input);
}

void BackendCommandChannel::open() {
    std::shared_ptr<UniqueFd> input;
    {
        std::lock_guard lock(mutex_);
        if (gate_ != Gate::waiting) {
            return;
        }
        gate_ = Gate::open;
        input = input_;
    }
    if (input) {
        keys_->open(std::move(input));
    }
}

void BackendCommandChannel::close() {
    {
        std::lock_guard lock(mutex_);
        gate_ = Gate::closed;
        input_.reset();
    }
    keys_->close();
    logKeyDrop();
}

void BackendCommandChannel::end() {
    close();
    failAllPending();
}

void BackendCommandChannel::request(bool enabled, UpdateCompletion completion) {
    logKeyDrop();
    const std::string requestId = Uuid::generate().string();
    auto command = DesktopProtocol::setClickerDistributorEnabledCommand(enabled, requestId);
    if (!command) {
        mainThread_->post([completion = std::move(completion)] {
            completion(
                std::unexpected(BackendSupervisorError::Kind::invalidClickerDistributorCommand));
        });
        return;
    }
    {
        std::lock_guard lock(mutex_);
        pending_[requestId] = {std::move(completion), {}};
    }
    auto timeout = mainThread_->postDelayed(
        std::chrono::duration_cast<MainThreadExecutor::Duration>(requestTimeout_),
        [weakSelf = weak_from_this(), requestId] {
            if (auto self = weakSelf.lock()) {
                self->finish(
                    requestId,
                    std::unexpected(BackendSupervisorError::Kind::clickerDistributorUpdateTimeout));
            }
        });
    {
        std::lock_guard lock(mutex_);
        if (const auto found = pending_.find(requestId); found != pending_.end()) {
            found->second.timeout = timeout;
        }
    }
    if (!write(*command)) {
        finish(requestId, std::unexpected(kUnavailable));
    }
}

void BackendCommandChannel::answer(const ClickerDistributorUpdateResult& result) {
    logKeyDrop();
    if (result.ok) {
        finish(result.requestId, result.enabled);
    } else {
        finish(result.requestId,
               std::unexpected(BackendSupervisorError::clickerDistributorUpdateFailed(
                   result.error.value_or("The setting could not be saved."))));
    }
}

bool BackendCommandChannel::write(const std::string& line) {
    std::shared_ptr<UniqueFd> input;
    {
        std::lock_guard lock(mutex_);
        if (gate_ != Gate::open || !input_) {
            return false;
        }
        // Held while writing, so a concurrent close cannot hand the number to another file.
        input = input_;
    }
    // Lines are far shorter than PIPE_BUF, so the pipe takes all of one or none of it.
    const ssize_t written = ::write(input->get(), line.data(), line.size());
    if (written == static_cast<ssize_t>(line.size())) {
        return true;
    }
    logDropOnce(written < 0 ? errno : 0);
    return false;
}

void BackendCommandChannel::logKeyDrop() {
    if (const auto dropped = keys_->takeDrop()) {
        logDropOnce(*dropped);
    }
}

void BackendCommandChannel::logDropOnce(int errorNumber) {
    {
        std::lock_guard lock(mutex_);
        if (dropLogged_) {
            return;
        }
        dropLogged_ = true;
    }
    const std::string reason = errorNumber == EAGAIN ? "backend stdin is backpressured"
                                                     : "backend stdin is unavailable (errno " +
                                                           std::to_string(errorNumber) + ")";
    log_->write("shell", "Dropped Clicker Distributor input because " + reason +
                             ". Further drops will not be logged.");
}

void BackendCommandChannel::finish(const std::string& requestId,
                                   std::expected<bool, BackendSupervisorError> result) {
    Pending pending;
    {
        std::lock_guard lock(mutex_);
        const auto found = pending_.find(requestId);
        if (found == pending_.end()) {
            return;
        }
        pending = std::move(found->second);
        pending_.erase(found);
    }
    pending.timeout.cancel();
    mainThread_->post([completion = std::move(pending.completion), result = std::move(result)] {
        completion(result);
    });
}

void BackendCommandChannel::failAllPending() {
    std::map<std::string, Pending> pending;
    {
        std::lock_guard lock(mutex_);
        pending.swap(pending_);
    }
    for (auto& [requestId, request] : pending) {
        request.timeout.cancel();
        mainThread_->post([completion = std::move(request.completion)] {
            completion(std::unexpected(kUnavailable));
        });
    }
}

}  // namespace kelvra
