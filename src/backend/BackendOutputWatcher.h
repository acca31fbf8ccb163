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
#include "core/DescriptorWatching.h"
#include "core/UniqueFd.h"

namespace kelvra {

enum class BackendStream { standardOutput, standardError };

/// What the watcher saw, reported on the main thread in order; `exit` comes last.
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

/// Reads the child's two output pipes and sees its exit through the main thread's descriptor
/// watch, so a quiet backend costs no thread and no wakeup. It frames the output into lines
/// (each stream holds at most one line and one chunk) and lives on its own until the child is
/// gone: then it reaps the child, reports the rest of the output and `exit`, sets `gone` and
/// ends. Call on the main thread.
///
/// A modal alert does not hold the output up: its nested event loop serves the watch too.
void watch(std::shared_ptr<DescriptorWatching> watching, std::shared_ptr<ChildProcess> process,
           UniqueFd standardOutput, UniqueFd standardError, BackendOutputEvents events,
           std::shared_ptr<BackendExitSignal> gone);

}  // namespace BackendOutputWatcher
}  // namespace kelvra
