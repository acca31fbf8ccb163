// SPDX-License-Identifier: MIT
#include "support/SpawnedProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "core/SpawnAttributes.h"
#include "support/TestSupport.h"

namespace kelvra::testing {

SpawnedProcess::SpawnedProcess(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments,
                               const std::map<std::string, std::string>& environment,
                               const std::optional<std::filesystem::path>& outputDirectory) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    UniqueFd childInput;
    UniqueFd childOutput;
    if (outputDirectory) {
        const auto out = *outputDirectory / "stdout";
        const auto err = *outputDirectory / "stderr";
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
    } else {
        int input[2];
        int output[2];
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        childInput.reset(input[0]);
        input_.reset(input[1]);
        output_.reset(output[0]);
        childOutput.reset(output[1]);
        posix_spawn_file_actions_adddup2(&actions, childInput.get(), STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, childOutput.get(), STDOUT_FILENO);
    }

    std::vector<std::string> texts{program.string()};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    auto argv = spawnVector(texts);
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) {
        entries.push_back(name + "=" + value);
    }
    auto envp = spawnVector(entries);

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
        ::waitpid(pid_, nullptr, 0);
    }
}

std::optional<std::string> SpawnedProcess::readLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (const auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{output_.get(), POLLIN, 0};
        const int ready =
            ::poll(&readable, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        char buffer[512];
        const ssize_t count = ready > 0 ? ::read(output_.get(), buffer, sizeof buffer) : 0;
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
    eventually(
        [&] {
            int status = 0;
            if (!exitStatus_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            return exitStatus_.has_value();
        },
        limit);
    return exitStatus_;
}

}  // namespace kelvra::testing
