// SPDX-License-Identifier: MIT
#pragma once

#include "core/Environment.h"
#include "core/Error.h"

namespace kelvra {

/// Whether a window can be shown: an X display (the usual one, XWayland included) accepts a
/// connection, or the user chose a Qt platform that draws on screen.
bool canShowWindows(const Environment& environment);

/// Reports a failed launch: a "shell:fatal" log line, the message on standard error and, when
/// there is a display, the modal critical alert. Returns the exit status, 1.
int reportStartupFailure(const Error& error, int& argc, char** argv);

}  // namespace kelvra
