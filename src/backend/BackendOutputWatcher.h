// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "backend/ChildProcess.h"
#include "backend/DesktopProtocol.h"
#include "core/UniqueFd.h"

namespace kelvra {

enum class BackendStream { standardOutput, standardError };

/// What the watcher saw, reported on its I/O thread in order; `exit` comes last.
struct BackendOutputEvents {
    std::function<void(BackendStream, const std::string&)> line;
    /// A line that is not well-formed UTF-8 or is too long. Its stream is closed then: the rest
    /// of what the child prints there is lost.
    std::function<void(const DesktopProtocolError&)> protocolFailure;
    /// The child is gone and reaped, and everything it printed has been reported.
    std::function<void(ChildProcess::Exit)> exit;
};

/// Set once the child is gone and its exit has been reported; the stop sequence waits for it.
class BackendExitSignal {
public:
    void set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }

    /// False when `limit` passed first.
    bool waitFor(std::chrono::duration<double> limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return set_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

namespace BackendOutputWatcher {

/// Reads the child's two output pipes on a thread of its own, frames them into lines and sees
/// the child's exit. The thread owns the pipes and the line buffers, so nothing it touches is
/// shared; it reaps the child, closes the pipes, reports `exit`, sets `gone` and ends.
void watch(std::shared_ptr<ChildProcess> process, UniqueFd standardOutput, UniqueFd standardError,
           BackendOutputEvents events, std::shared_ptr<BackendExitSignal> gone);

}  // namespace BackendOutputWatcher
}  // namespace kelvra
