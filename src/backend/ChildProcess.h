// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "core/Environment.h"
#include "core/UniqueFd.h"

namespace kelvra {

/// A child process in a process group of its own, watched through a process file descriptor
/// so that its exit is seen without signals and it is reaped by nobody else by mistake.
class ChildProcess {
public:
    struct Launch {
        std::filesystem::path executable;
        std::vector<std::string> arguments;
        std::filesystem::path workingDirectory;
        Environment environment;
    };

    /// The parent's ends of the child's standard streams; all close-on-exec and non-blocking.
    struct Pipes {
        UniqueFd standardInput;
        UniqueFd standardOutput;
        UniqueFd standardError;
    };

    struct Spawned {
        std::shared_ptr<ChildProcess> process;
        Pipes pipes;
    };

    /// Starts the program; fails with the errno of the step that failed.
    static std::expected<Spawned, int> spawn(const Launch& launch);

    /// Kills and reaps a child that is still there, so no zombie is left behind.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    /// Readable once the child has exited; -1 after `reap`.
    int exitDescriptor() const;

    /// Sends `signal` to the child's process group, unless the child has been reaped (its
    /// process group identifier may then belong to someone else).
    void signalGroup(int signal);

    /// Once the child has exited: kills what is left of its process group, so no grandchild
    /// keeps the child's port or pipes, and collects the exit. Returns the exit code, or
    /// 128 + the signal number for a child ended by a signal; `signalled` tells which.
    struct Exit {
        int status = 0;
        bool signalled = false;
    };
    Exit reap();

private:
    ChildProcess(pid_t pid, UniqueFd exitDescriptor)
        : pid_(pid), exitDescriptor_(std::move(exitDescriptor)) {}

    const pid_t pid_;
    mutable std::mutex mutex_;
    UniqueFd exitDescriptor_;
    bool reaped_ = false;
};

}  // namespace kelvra
