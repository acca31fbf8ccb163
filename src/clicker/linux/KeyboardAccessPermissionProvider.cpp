// SPDX-License-Identifier: MIT
#include "clicker/linux/KeyboardAccessPermissionProvider.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <utility>

#include "clicker/ClickerInputConfigurationStore.h"

extern char** environ;

namespace kelvra {
namespace {

constexpr std::string_view kLogCategory = "shell";

}  // namespace

void runCommandAsynchronously(std::vector<std::string> arguments, std::function<void(int)> done) {
    // Started here, not on the waiting thread: the main thread may change the environment (an
    // activation token lent to the next window), so only it reads the environment.
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const bool started = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
    std::thread([pid, started, done = std::move(done)] {
        if (!started) {
            done(127);
            return;
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        done(WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status));
    }).detach();
}

KeyboardAccessPermissionProvider::KeyboardAccessPermissionProvider(
    std::shared_ptr<SettingsStore> defaults, std::function<bool()> canOpenTap,
    CommandRunner runCommand, std::shared_ptr<MainThreadExecutor> mainThread,
    std::shared_ptr<LogSink> log, Files files)
    : defaults_(std::move(defaults)),
      canOpenTap_(std::move(canOpenTap)),
      runCommand_(std::move(runCommand)),
      mainThread_(std::move(mainThread)),
      log_(std::move(log)),
      files_(std::move(files)) {}

void KeyboardAccessPermissionProvider::recordRequest() {
    if (auto stored = defaults_->setBoolean(
            ClickerInputConfigurationStore::accessibilityRequestRecordedKey, true);
        !stored) {
        log_->write(kLogCategory, "Could not record the keyboard access request: " +
                                      stored.error().diagnosticDescription());
    }
}

AccessibilityAuthorizationStatus KeyboardAccessPermissionProvider::authorizationStatus() {
    if (canOpenTap_()) {
        recordRequest();
        return AccessibilityAuthorizationStatus::granted;
    }
    const bool asked =
        defaults_->boolean(ClickerInputConfigurationStore::accessibilityRequestRecordedKey)
            .value_or(false);
    return asked ? AccessibilityAuthorizationStatus::denied
                 : AccessibilityAuthorizationStatus::notDetermined;
}

void KeyboardAccessPermissionProvider::requestAccess(std::function<void(bool granted)> completion) {
    recordRequest();
    runCommand_(
        {"pkexec", files_.helper.string()},
        [mainThread = mainThread_, log = log_, canOpenTap = canOpenTap_,
         completion = std::move(completion)](int status) mutable {
            // 126: the user dismissed the dialog; 127: not authorized or no pkexec.
            if (status != 0) {
                log->write(kLogCategory, "The keyboard access helper ended with status " +
                                             std::to_string(status) + ".");
            }
            mainThread->post([canOpenTap = std::move(canOpenTap),
                              completion = std::move(completion)] { completion(canOpenTap()); });
        });
}

void KeyboardAccessPermissionProvider::openSystemSettings() {
    runCommand_({"xdg-open", files_.helpPage.string()}, [log = log_](int status) {
        if (status != 0) {
            log->write(kLogCategory, "xdg-open could not show the Keyboard Access help (status " +
                                         std::to_string(status) + ").");
        }
    });
}

}  // namespace kelvra
