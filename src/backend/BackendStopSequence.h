// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "backend/BackendOutputWatcher.h"
#include "backend/BackendSupervisorTimeouts.h"
#include "backend/ChildProcess.h"
#include "core/LogSink.h"
#include "core/UniqueFd.h"

namespace kelvra {

/// Ends one backend child: the shutdown command, then SIGTERM to its process group, then
/// SIGKILL, each followed by its deadline, until the child is gone. The sequence runs once, on
/// a thread of its own that holds everything it needs, so it goes on when the supervisor that
/// began it has been released.
class BackendStopSequence : public std::enable_shared_from_this<BackendStopSequence> {
public:
    BackendStopSequence(std::shared_ptr<ChildProcess> process,
                        std::shared_ptr<BackendExitSignal> gone,
                        std::shared_ptr<UniqueFd> standardInput, std::shared_ptr<LogSink> log,
                        BackendSupervisorTimeouts timeouts);

    /// Runs `completion` on the sequence's thread once the child is gone or the steps have run
    /// out, or at once when that has happened already. The first call begins the sequence.
    void stop(std::function<void()> completion);

private:
    void run();

    const std::shared_ptr<ChildProcess> process_;
    const std::shared_ptr<BackendExitSignal> gone_;
    const std::shared_ptr<LogSink> log_;
    const BackendSupervisorTimeouts timeouts_;

    std::mutex mutex_;
    bool begun_ = false;
    bool finished_ = false;
    std::shared_ptr<UniqueFd> standardInput_;
    std::vector<std::function<void()>> waiters_;
};

}  // namespace kelvra
