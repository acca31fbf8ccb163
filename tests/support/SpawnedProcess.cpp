// SPDX-License-Identifier: MIT
#include "support/SpawnedProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/TestSupport.h"

namespace kelvra::testing {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMilliseconds(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

SpawnedProcess::SpawnedProcess(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments,
                               const std::map<std::string, std::string>& environment) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    input_.reset(input[1]);
    output_.reset(output[0]);
    UniqueFd childInput(input[0]);
    UniqueFd childOutput(output[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childInput.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, childOutput.get(), STDOUT_FILENO);

    std::vector<std::string> texts{program.string()};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    auto argv = execArray(texts);
    auto environmentEntries = environmentTexts(environment);
    auto envp = execArray(environmentEntries);

    const int result =
        ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        throw std::runtime_error("posix_spawn failed for " + program.string());
    }
}

SpawnedProcess::~SpawnedProcess() {
    if (!exitStatus_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::optional<std::string> SpawnedProcess::readLine(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (true) {
        if (const auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        pollfd readable{output_.get(), POLLIN, 0};
        const int ready = ::poll(&readable, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char buffer[512];
        const ssize_t count = ::read(output_.get(), buffer, sizeof buffer);
        if (count <= 0) {
            return std::nullopt;
        }
        buffered_.append(buffer, static_cast<size_t>(count));
    }
}

void SpawnedProcess::closeInput() {
    input_.reset();
}

void SpawnedProcess::kill(int signal) {
    if (!exitStatus_) {
        ::kill(pid_, signal);
    }
}

std::optional<int> SpawnedProcess::wait(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!exitStatus_) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        // Exit is observed by polling; the limit, not the step, bounds the wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exitStatus_;
}

}  // namespace kelvra::testing
