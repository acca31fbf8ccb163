// SPDX-License-Identifier: MIT
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "app/StartupAlert.h"
#include "core/Environment.h"
#include "core/FileLog.h"
#include "shell/AppOptions.h"
#include "shell/BundleLocation.h"
#include "shell/SmokeTestRunner.h"

int main(int argc, char** argv) {
    using namespace kelvra;

    // Writes to a backend that has died must fail with EPIPE, not end the application.
    std::signal(SIGPIPE, SIG_IGN);

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto executable = BundleLocation::executablePath();
    const auto resources =
        executable ? BundleLocation::resourcesDirectory(*executable) : std::nullopt;
    const auto options = AppOptions::parse(arguments, resources, currentEnvironment());
    if (!options) {
        return reportStartupFailure(options.error(), argc, argv);
    }

    if (options->smokeTest) {
        // No instance lock and no display: the self-test may run beside a normal instance.
        return SmokeTestRunner::run(options->backend, FileLog::defaultDirectory());
    }

    auto log = FileLog::open(FileLog::defaultDirectory(), FileLog::kDefaultMaximumBytes);
    if (!log) {
        return reportStartupFailure(log.error(), argc, argv);
    }
    (*log)->write("shell", "Kelvra Hub started; backend " +
                               options->backend.entryPointURL.string() + " run by " +
                               options->backend.nodeURL.string() + ".");
    // The tray interface that keeps the application running is not in this build yet.
    std::cerr << "Kelvra Hub checked its bundle and log; its system-tray interface is not part of "
                 "this build yet. Run it with --smoke-test to exercise the server."
              << std::endl;
    return 0;
}
