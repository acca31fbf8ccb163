// SPDX-License-Identifier: MIT
#include "clicker/linux/KeyboardAccessPermissionProvider.h"

#include <cerrno>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <utility>

#include "clicker/ClickerInputConfigurationStore.h"
#include "clicker/ClickerInputMonitor.h"
#include "core/SpawnAttributes.h"

extern char** environ;

namespace kelvra {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kLogCategory = "shell";

/// Owned by root and writable by no one else. Under an ACL the group bits hold its mask, which
/// bounds every named user and group, so they answer for the ACL too.
bool onlyRootWrites(const struct stat& status) {
    return status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

/// `path` resolved, when it is a regular file that only root can change: the file and every
/// directory from / down to it. Absent otherwise. pkexec gets the resolved path, so no link on
/// the way can be swapped after the check.
std::optional<fs::path> rootControlledFile(const fs::path& path) {
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    if (error) {
        return std::nullopt;
    }
    const fs::path relative = resolved.relative_path();
    fs::path walked = resolved.root_path();
    for (auto part = relative.begin();; ++part) {
        struct stat status {};
        if (::lstat(walked.c_str(), &status) != 0 || !onlyRootWrites(status)) {
            return std::nullopt;
        }
        if (part == relative.end()) {
            return S_ISREG(status.st_mode) ? std::optional(resolved) : std::nullopt;
        }
        if (!S_ISDIR(status.st_mode)) {
            return std::nullopt;
        }
        walked /= *part;
    }
}

}  // namespace

void runCommandAsynchronously(std::vector<std::string> arguments, std::function<void(int)> done) {
    // Started here, not on the waiting thread: the main thread may change the environment (an
    // activation token lent to the next window), so only it reads the environment.
    auto argv = spawnVector(arguments);
    SpawnAttributes attributes;
    pid_t pid = 0;
    const bool started =
        ::posix_spawnp(&pid, argv[0], nullptr, attributes.get(), argv.data(), environ) == 0;
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
    std::shared_ptr<SettingsStore> defaults, TapProbe canOpenTap, CommandRunner runCommand,
    std::shared_ptr<MainThreadExecutor> mainThread, std::shared_ptr<LogSink> log, Files files)
    : defaults_(std::move(defaults)),
      // Read afresh each time: the keys, and with them the devices to read, may have changed.
      canOpenTap_([canOpenTap = std::move(canOpenTap), defaults = defaults_] {
          const auto configuration = ClickerInputConfigurationStore(defaults).configuration();
          return canOpenTap(*ClickerInputMonitor::tapConfiguration(configuration, false));
      }),
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
    const std::optional<bool> opens = canOpenTap_();
    if (opens.value_or(false)) {
        recordRequest();
        return AccessibilityAuthorizationStatus::granted;
    }
    const bool asked =
        defaults_->boolean(ClickerInputConfigurationStore::accessibilityRequestRecordedKey)
            .value_or(false);
    if (!asked) {
        return AccessibilityAuthorizationStatus::notDetermined;
    }
    // Away from the seat nothing is concluded: one who had access or asked for it is not told
    // otherwise, and the listener finds out when the session returns.
    return opens.has_value() ? AccessibilityAuthorizationStatus::denied
                             : AccessibilityAuthorizationStatus::granted;
}

void KeyboardAccessPermissionProvider::requestAccess(std::function<void(bool granted)> completion) {
    recordRequest();
    // An administrator approves what the helper is when pkexec runs it; one that anybody but
    // root can rewrite could by then be any program. The help page says how to install the
    // package or the rule by hand, and the window shows it when access is still missing.
    const auto helper = rootControlledFile(files_.helper);
    if (!helper) {
        log_->write(kLogCategory, "Not asking for keyboard access: the helper " +
                                      files_.helper.string() +
                                      " is not a file that only root can change.");
        mainThread_->post([canOpenTap = canOpenTap_, completion = std::move(completion)] {
            completion(canOpenTap().value_or(false));
        });
        return;
    }
    runCommand_({"pkexec", helper->string()},
                [mainThread = mainThread_, log = log_, canOpenTap = canOpenTap_,
                 completion = std::move(completion)](int status) mutable {
                    // 126: the user dismissed the dialog; 127: not authorized or no pkexec.
                    if (status != 0) {
                        log->write(kLogCategory, "The keyboard access helper ended with status " +
                                                     std::to_string(status) + ".");
                    }
                    mainThread->post(
                        [canOpenTap = std::move(canOpenTap), completion = std::move(completion)] {
                            completion(canOpenTap().value_or(false));
                        });
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
