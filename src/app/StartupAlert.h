// SPDX-License-Identifier: MIT
#pragma once

#include "core/Environment.h"
#include "core/Error.h"

namespace kelvra {

/// Whether a window can be shown: an X display (the usual one, XWayland included) accepts a
/// connection, or the user chose a Qt platform that draws on screen.
bool canShowWindows(const Environment& environment);

/// Whether the application object can start: a Qt platform was chosen, a Wayland display is
/// named, or an X display accepts a connection. Qt aborts without one.
bool canOpenDisplay(const Environment& environment);

/// Records a failed launch (a "shell:fatal" log line) and says so on standard error and, in the
/// running application, in the modal critical alert that names the log.
void presentStartupFailure(const Error& error);

/// The same before the application object exists: makes one for the alert when there is a
/// display. Returns the exit status, 1.
int reportStartupFailure(const Error& error, int& argc, char** argv);

}  // namespace kelvra
