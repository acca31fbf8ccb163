// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "core/UniqueFd.h"

namespace kelvra::testing {

/// A child process that runs beside the test. Killed with SIGKILL and reaped at destruction
/// if still running.
class SpawnedProcess {
public:
    /// With `outputDirectory`, standard input is /dev/null and standard output and error go to
    /// the files "stdout" and "stderr" there; without, standard input and output are pipes.
    SpawnedProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment,
                   const std::optional<std::filesystem::path>& outputDirectory = std::nullopt);
    ~SpawnedProcess();
    SpawnedProcess(const SpawnedProcess&) = delete;
    SpawnedProcess& operator=(const SpawnedProcess&) = delete;

    pid_t pid() const { return pid_; }

    /// The next line the child prints, without its line feed; absent when it closes its output
    /// or `limit` passes first.
    std::optional<std::string> readLine(std::chrono::milliseconds limit);

    /// Closes the child's standard input, which tells our helpers to finish.
    void closeInput();

    void kill(int signal);

    /// Waits for the child's end, up to `limit`: its exit code, or 128 + the signal number;
    /// absent when it is still running then.
    std::optional<int> wait(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
    UniqueFd input_;
    UniqueFd output_;
    std::string buffered_;
};

}  // namespace kelvra::testing
