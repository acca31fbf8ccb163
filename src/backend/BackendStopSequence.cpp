// SPDX-License-Identifier: MIT
#include "backend/BackendStopSequence.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "backend/DesktopProtocol.h"
#include "core/Error.h"

namespace kelvra {

BackendStopSequence::BackendStopSequence(std::shared_ptr<ChildProcess> process,
                                         std::shared_ptr<BackendExitSignal> gone,
                                         std::shared_ptr<UniqueFd> standardInput,
                                         std::shared_ptr<LogSink> log,
                                         BackendSupervisorTimeouts timeouts)
    : process_(std::move(process)),
      gone_(std::move(gone)),
      log_(std::move(log)),
      timeouts_(timeouts),
      standardInput_(std::move(standardInput)) {}

void BackendStopSequence::stop(std::function<void()> completion) {
    bool begin = false;
    {
        std::lock_guard lock(mutex_);
        if (!finished_) {
            if (completion) {
                waiters_.push_back(std::move(completion));
            }
            begin = !begun_;
            begun_ = true;
        }
    }
    if (begin) {
        std::thread([self = shared_from_this()] { self->run(); }).detach();
    } else if (completion) {
        completion();  // only reached once the sequence has finished
    }
}

void BackendStopSequence::run() {
    const auto goneWithin = [this](BackendSupervisorTimeouts::Seconds limit) {
        return gone_->waitFor(limit);
    };
    std::shared_ptr<UniqueFd> input;
    {
        std::lock_guard lock(mutex_);
        input = standardInput_;
    }
    // The shutdown command does not wait for readiness: a backend still starting gets it too.
    if (!goneWithin({})) {
        // Standard input never blocks, so a full pipe fails at once rather than waiting.
        const int writeError = writeAll(input->get(), DesktopProtocol::kShutdownCommand);
        if (writeError != 0) {
            log_->write("shell", "Graceful backend shutdown failed: " + errorText(writeError));
        }
        if (writeError != 0 || !goneWithin(timeouts_.shutdown)) {
            log_->write("shell", "Backend ignored graceful shutdown; sending SIGTERM.");
            process_->signalGroup(SIGTERM);
            if (!goneWithin(timeouts_.terminate)) {
                log_->write("shell", "Backend ignored SIGTERM; sending SIGKILL.");
                process_->signalGroup(SIGKILL);
                goneWithin(timeouts_.kill);
            }
        }
    }
    std::vector<std::function<void()>> waiters;
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        waiters = std::move(waiters_);
        standardInput_.reset();
    }
    input.reset();
    for (auto& waiter : waiters) {
        waiter();
    }
}

}  // namespace kelvra
