// SPDX-License-Identifier: MIT
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <QApplication>

#include "app/AppDelegate.h"
#include "app/StartupAlert.h"
#include "backend/AppOptions.h"
#include "backend/SmokeTestRunner.h"
#include "core/Environment.h"
#include "core/FileLog.h"
#include "desktop/ColorSchemePalette.h"
#include "shell/BundleLocation.h"

int main(int argc, char** argv) {
    using namespace kelvra;

    // Writes to a backend that has died must fail with EPIPE, not end the application; a stop
    // from the terminal (Ctrl+Z, a background read or write) would freeze every keyboard held.
    for (const int ignored : {SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU}) {
        std::signal(ignored, SIG_IGN);
    }

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto executable = BundleLocation::executablePath();
    const auto resources =
        executable ? BundleLocation::resourcesDirectory(*executable) : std::nullopt;
    auto options = AppOptions::parse(arguments, resources, currentEnvironment());
    if (!options) {
        return reportStartupFailure(options.error(), argc, argv);
    }

    if (options->smokeTest) {
        // No instance lock and no display: the self-test may run beside a normal instance.
        return SmokeTestRunner::run(options->backend, FileLog::defaultDirectory());
    }

    if (!canOpenDisplay(currentEnvironment())) {
        std::cerr << "Kelvra Hub runs in a desktop session: it could not connect to a display."
                  << std::endl;
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvra Hub"));
    QApplication::setOrganizationName(QStringLiteral("Morvane"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.morvane.KelvraHub"));
    // Qt 6.4 does not follow the desktop's light or dark choice on its own.
    const ColorSchemePalette palette(makePortalColorSchemeSource());
    AppDelegate delegate(std::move(*options));
    delegate.scheduleLaunch();
    const int loopStatus = QApplication::exec();
    return loopStatus != 0 ? loopStatus : delegate.exitStatus();
}
