// SPDX-License-Identifier: MIT
#include "backend/ChildProcess.h"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include "core/SpawnAttributes.h"

namespace kelvra {
namespace {

// glibc 2.36 declares P_PIDFD only in newer headers.
constexpr idtype_t kProcessFileDescriptor = static_cast<idtype_t>(3);

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

std::expected<Pipe, int> makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return std::unexpected(errno);
    }
    return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

bool setNonBlocking(int descriptor) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    return flags >= 0 && ::fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == 0;
}

/// posix_spawn's file actions, destroyed on every path.
struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

}  // namespace

std::expected<ChildProcess::Spawned, int> ChildProcess::spawn(const Launch& launch) {
    auto input = makePipe();
    auto output = makePipe();
    auto error = makePipe();
    if (!input || !output || !error) {
        return std::unexpected(!input ? input.error() : !output ? output.error() : error.error());
    }
    if (!setNonBlocking(input->write.get()) || !setNonBlocking(output->read.get()) ||
        !setNonBlocking(error->read.get())) {
        return std::unexpected(errno);
    }

    FileActions files;
    // dup2 clears close-on-exec on the child's copies; every other descriptor stays closed.
    posix_spawn_file_actions_adddup2(&files.actions, input->read.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&files.actions, output->write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&files.actions, error->write.get(), STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&files.actions, launch.workingDirectory.c_str());
    // A group of its own, so signals reach the whole server, workers included.
    SpawnAttributes attributes(POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(attributes.get(), 0);

    std::vector<std::string> arguments{launch.executable.string()};
    arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<std::string> environment;
    for (const auto& [name, value] : launch.environment) {
        environment.push_back(name + "=" + value);
    }
    auto argv = spawnVector(arguments);
    auto envp = spawnVector(environment);

    pid_t pid = 0;
    const int spawnError = posix_spawn(&pid, launch.executable.c_str(), &files.actions,
                                       attributes.get(), argv.data(), envp.data());
    if (spawnError != 0) {
        return std::unexpected(spawnError);
    }

    UniqueFd exitDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!exitDescriptor) {
        const int openError = errno;
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return std::unexpected(openError);
    }
    ::fcntl(exitDescriptor.get(), F_SETFD, FD_CLOEXEC);

    // The child's ends close here, so reads see the end of the stream once the child is gone.
    return Spawned{std::shared_ptr<ChildProcess>(new ChildProcess(pid, std::move(exitDescriptor))),
                   Pipes{std::move(input->write), std::move(output->read), std::move(error->read)}};
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        signalGroup(SIGKILL);
        reap();
    }
}

int ChildProcess::exitDescriptor() const {
    std::lock_guard lock(mutex_);
    return exitDescriptor_.get();
}

void ChildProcess::signalGroup(int signal) {
    std::lock_guard lock(mutex_);
    if (!reaped_) {
        ::kill(-pid_, signal);
    }
}

ChildProcess::Exit ChildProcess::reap() {
    std::lock_guard lock(mutex_);
    if (reaped_) {
        return {};
    }
    // The exited child is a zombie until reaped, so its group identifier cannot be reused yet.
    ::kill(-pid_, SIGKILL);
    siginfo_t info{};
    while (::waitid(kProcessFileDescriptor, static_cast<id_t>(exitDescriptor_.get()), &info,
                    WEXITED) < 0 &&
           errno == EINTR) {
    }
    reaped_ = true;
    exitDescriptor_.reset();
    if (info.si_code == CLD_EXITED) {
        return {info.si_status, false};
    }
    return {128 + info.si_status, true};
}

}  // namespace kelvra
