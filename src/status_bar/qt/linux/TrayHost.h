// SPDX-License-Identifier: MIT
#pragma once

namespace kelvra {

/// Whether a tray would show our item now: a StatusNotifierItem host on the session bus, or,
/// under X11, an XEmbed tray manager on our screen. Asks without creating a tray item, since Qt
/// settles its own answer for good on the first one.
bool trayHostPresent();

}  // namespace kelvra
