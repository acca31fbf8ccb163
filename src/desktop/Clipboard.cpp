// SPDX-License-Identifier: MIT
#include "desktop/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

#include "desktop/ChildSignals.h"
#include "desktop/WaylandPlatform.h"

namespace kelvra::Clipboard {
namespace {

constexpr int kWlCopyLimitMilliseconds = 3000;

bool copyWithWlCopy(const QString& text) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("wl-copy"));
    if (program.isEmpty()) {
        return false;
    }
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    startWithDefaultSignals(process);
    // wl-copy returns once its background copy serves the selection.
    process.start(program, {QStringLiteral("--type"), QStringLiteral("text/plain;charset=utf-8")});
    if (!process.waitForStarted(kWlCopyLimitMilliseconds)) {
        return false;
    }
    process.write(text.toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished(kWlCopyLimitMilliseconds)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace

bool copyPlainText(const QString& text) {
    const bool wayland = isWaylandPlatform();
    // A Wayland compositor gives the clipboard only to the client with the keyboard focus and
    // ignores anyone else, while Qt reads its own offer back all the same: from a tray menu,
    // with no window of ours focused, only wl-copy's word counts.
    if (wayland && QGuiApplication::focusWindow() == nullptr) {
        return copyWithWlCopy(text);
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
    if (clipboard->text() == text) {
        return true;
    }
    return wayland && copyWithWlCopy(text);
}

}  // namespace kelvra::Clipboard
