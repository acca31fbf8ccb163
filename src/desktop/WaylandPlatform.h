// SPDX-License-Identifier: MIT
#pragma once

#include <QGuiApplication>

namespace kelvra {

/// Whether Qt draws through a Wayland compositor (the platform plugins are all "wayland…").
inline bool isWaylandPlatform() {
    return QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

}  // namespace kelvra
