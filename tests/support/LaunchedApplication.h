// SPDX-License-Identifier: MIT
// The built application started the way a user starts it, with a home, a runtime directory and a
// browser of its own: the browser is a stand-in `xdg-open` that records what it was asked to open.
// Header-only: the bundle's location is a definition of each test target.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

#include "support/BoundSocket.h"
#include "support/SpawnedProcess.h"
#include "support/TestSupport.h"

namespace kelvra::testing {

inline const std::filesystem::path kBundle = KELVRA_TEST_BUNDLE_DIR;
inline const std::filesystem::path kExecutable = kBundle / "bin/kelvra-hub";

/// The process group the backend leads still has a living member (the backend included).
inline bool backendGroupAlive(pid_t backend) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        char state = 'Z';
        pid_t parent = 0, group = 0;
        if (close != std::string::npos &&
            std::sscanf(line.c_str() + close + 2, "%c %d %d", &state, &parent, &group) == 3 &&
            state != 'Z' && (group == backend || std::atoi(line.c_str()) == backend)) {
            return true;
        }
    }
    return false;
}

class LaunchedApplication {
public:
    LaunchedApplication() {
        std::filesystem::create_directories(runtime());
        std::filesystem::permissions(runtime(), std::filesystem::perms::owner_all);
        writeExecutable(root() / "bin/xdg-open",
                        "#!/bin/sh\necho \"$1\" >> '" + (root() / "opened").string() + "'\n");
        environment = {{"HOME", home().string()},
                       {"PATH", (root() / "bin").string() + ":/usr/bin:/bin"},
                       {"XDG_RUNTIME_DIR", runtime().string()}};
        // A sanitized build reports by the test run's rules, leaks of system libraries aside.
        for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            if (const char* value = std::getenv(name)) {
                environment[name] = value;
            }
        }
    }

    const std::filesystem::path& root() const { return directory_.path(); }
    std::filesystem::path home() const { return root() / "home"; }
    std::filesystem::path runtime() const { return root() / "runtime"; }
    std::filesystem::path logFile() const {
        return home() / ".local/state/Morvane/Kelvra Hub/kelvra-hub.log";
    }

    /// The settings file with a server port of this run's own and `fields` (`"name": value`).
    void writeSettings(const std::string& fields = {}) {
        writeFile(home() / ".config/Morvane/Kelvra Hub/settings.json",
                  "{\"hubServerPort\": " + std::to_string(freePort()) +
                      (fields.empty() ? "" : ", " + fields) + "}");
    }

    std::string log() const { return readIfThere(logFile()); }
    /// What the browser was asked to open, a line each.
    std::string opened() const { return readIfThere(root() / "opened"); }

    /// What the log says between `marker` and the next full stop; empty until the whole line
    /// is there, so a line still being written is never taken for its beginning.
    std::string logged(const std::string& marker) const {
        const std::string text = log();
        const auto start = text.find(marker);
        const auto end = start == std::string::npos ? start : text.find(".\n", start);
        return end == std::string::npos
                   ? ""
                   : text.substr(start + marker.size(), end - start - marker.size());
    }
    bool waitForLog(const std::string& text, std::chrono::milliseconds limit) const {
        return eventually([&] { return log().find(text) != std::string::npos; }, limit);
    }
    std::string readyURL() const { return logged("[shell] Backend ready at "); }
    pid_t backendPid() const {
        const std::string pid = logged("[shell] Started backend PID ");
        return pid.empty() ? -1 : std::stoi(pid);
    }

    std::unique_ptr<SpawnedProcess> launch(const std::vector<std::string>& arguments = {}) {
        return std::make_unique<SpawnedProcess>(kExecutable, arguments, environment);
    }
    ProcessResult run(const std::vector<std::string>& arguments = {},
                      const std::filesystem::path& executable = kExecutable) const {
        return runProcess(executable, arguments, environment);
    }

    /// `app` ends with status 0 within `limit` and takes its backend's whole group along.
    void expectCleanExit(SpawnedProcess& app, pid_t backend, std::chrono::milliseconds limit) {
        const auto status = app.wait(limit);
        ASSERT_TRUE(status) << "still running after it was asked to quit\n" << log();
        EXPECT_EQ(*status, 0) << log();
        EXPECT_TRUE(
            eventually([&] { return !backendGroupAlive(backend); }, std::chrono::seconds(5)))
            << "the backend outlived the application";
    }

    std::map<std::string, std::string> environment;

private:
    static std::string readIfThere(const std::filesystem::path& file) {
        return std::filesystem::exists(file) ? readFile(file) : "";
    }

    TemporaryDirectory directory_;
};

}  // namespace kelvra::testing
