// SPDX-License-Identifier: MIT
#include "app/StartupAlert.h"

#include <iostream>
#include <xcb/xcb.h>

#include <QApplication>

#include "core/FileLog.h"
#include "desktop/Alert.h"
#include "desktop/ColorSchemePalette.h"
#include "shell/StartupFailure.h"

namespace kelvra {

bool canShowWindows(const Environment& environment) {
    const auto platform = environmentValue(environment, "QT_QPA_PLATFORM").value_or("");
    if (!platform.empty()) {
        return platform != "offscreen" && platform != "minimal";
    }
    if (environmentValue(environment, "DISPLAY").value_or("").empty()) {
        return false;
    }
    // Qt aborts when it cannot open its display, so find out first.
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return connected;
}

bool canOpenDisplay(const Environment& environment) {
    return !environmentValue(environment, "QT_QPA_PLATFORM").value_or("").empty() ||
           !environmentValue(environment, "WAYLAND_DISPLAY").value_or("").empty() ||
           canShowWindows(environment);
}

namespace {

std::string recordStartupFailure(const Error& error) {
    StartupFailure::record(error, FileLog::defaultDirectory());
    const std::string informative = StartupFailure::informativeText(error, FileLog::defaultPath());
    std::cerr << StartupFailure::kMessageText << '\n' << informative << std::endl;
    return informative;
}

void runStartupAlert(const std::string& informative) {
    Alert{.style = AlertStyle::critical,
          .message = QString::fromUtf8(StartupFailure::kMessageText),
          .informativeText = QString::fromStdString(informative)}
        .run();
}

}  // namespace

void presentStartupFailure(const Error& error) {
    const std::string informative = recordStartupFailure(error);
    if (canShowWindows(currentEnvironment())) {
        runStartupAlert(informative);
    }
}

int reportStartupFailure(const Error& error, int& argc, char** argv) {
    const std::string informative = recordStartupFailure(error);
    if (canShowWindows(currentEnvironment())) {
        QApplication application(argc, argv);
        const ColorSchemePalette palette(makePortalColorSchemeSource());
        runStartupAlert(informative);
    }
    return 1;
}

}  // namespace kelvra
