// SPDX-License-Identifier: MIT
#include "app/StartupAlert.h"

#include <iostream>
#include <xcb/xcb.h>

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>

#include "core/FileLog.h"
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

int reportStartupFailure(const Error& error, int& argc, char** argv) {
    StartupFailure::record(error, FileLog::defaultDirectory());
    const std::string informative = StartupFailure::informativeText(error, FileLog::defaultURL());
    std::cerr << StartupFailure::kMessageText << '\n' << informative << std::endl;

    if (canShowWindows(currentEnvironment())) {
        QApplication application(argc, argv);
        QMessageBox alert(QMessageBox::Critical, QStringLiteral("Kelvra Hub"),
                          QString::fromUtf8(StartupFailure::kMessageText), QMessageBox::Ok);
        alert.setInformativeText(QString::fromStdString(informative));
        // Without a width, Qt wraps paths and options at their hyphens and slashes.
        if (auto* grid = qobject_cast<QGridLayout*>(alert.layout())) {
            grid->addItem(new QSpacerItem(460, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                          grid->rowCount(), 0, 1, grid->columnCount());
        }
        alert.activateWindow();
        alert.raise();
        alert.exec();
    }
    return 1;
}

}  // namespace kelvra
