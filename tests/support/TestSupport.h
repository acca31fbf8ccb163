// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kelvra::testing {

/// A fresh directory under /tmp, removed with everything in it at destruction.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

/// Polls `condition` every few milliseconds until it holds; false after `limit`. For what
/// no event announces: a process's end, a descriptor closed by another thread.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(20));

void writeFile(const std::filesystem::path& path, const std::string& contents);
/// Writes `script` and makes it executable.
void writeExecutable(const std::filesystem::path& path, const std::string& script = "#!/bin/sh\n");
std::string readFile(const std::filesystem::path& path);
/// The file's lines, without their line feeds.
std::vector<std::string> readLines(const std::filesystem::path& path);
/// The permission bits of `path`, as in 0600.
unsigned modeOf(const std::filesystem::path& path);

struct ProcessResult {
    int exitStatus = -1;  ///< exit code, or 128 + signal number
    std::string standardOutput;
    std::string standardError;
};

/// Runs a program to its end with exactly `environment`, standard input from /dev/null.
ProcessResult runProcess(const std::filesystem::path& program,
                         const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment);

/// While alive, the calling thread ignores SIGTSTP and blocks SIGUSR2, as settings of a parent
/// that its children must not inherit.
class ParentSignalSettings {
public:
    ParentSignalSettings();
    ~ParentSignalSettings();
    ParentSignalSettings(const ParentSignalSettings&) = delete;
    ParentSignalSettings& operator=(const ParentSignalSettings&) = delete;

private:
    struct sigaction stopAction_ {};
    sigset_t blocked_{};
};

/// A shell command that fails when it runs with a standard signal ignored or blocked.
extern const char* const kFailsOnInheritedSignals;

}  // namespace kelvra::testing
