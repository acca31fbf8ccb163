// SPDX-License-Identifier: MIT
#pragma once

class QProcess;

namespace kelvra {

/// Makes `process` start its program with default handling of every signal and an empty mask.
/// The application ignores SIGPIPE and the stop signals, and ignored signals survive exec: a
/// browser that xdg-open starts, or wl-copy's server, must not keep them ignored.
void startWithDefaultSignals(QProcess& process);

}  // namespace kelvra
