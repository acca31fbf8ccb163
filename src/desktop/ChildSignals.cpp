// SPDX-License-Identifier: MIT
#include "desktop/ChildSignals.h"

#include <csignal>

#include <QProcess>

namespace kelvra {

void startWithDefaultSignals(QProcess& process) {
    // Runs in the child between fork and exec: async-signal-safe calls only. The real-time
    // signals are left as they are; glibc keeps the first two to itself.
    process.setChildProcessModifier([] {
        for (int signal = 1; signal < SIGRTMIN; ++signal) {
            ::signal(signal, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
    });
}

}  // namespace kelvra
