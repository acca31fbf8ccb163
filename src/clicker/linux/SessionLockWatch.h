// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kelvra {

/// What the seat says of the user's session.
struct SessionState {
    bool locked = false;
    /// While not active, the person at the seat is someone else, or no one.
    bool active = true;

    bool operator==(const SessionState&) const = default;
};

/// Whether the user's session is locked, and whether it is the seat's active session (not
/// another user's, nor a text console, switched to), followed without blocking. Used from one
/// thread at a time.
class SessionLockWatch {
public:
    virtual ~SessionLockWatch() = default;

    /// Readable when the state may have changed; -1 when it is not followed. It may change
    /// after `process`.
    virtual int descriptor() const = 0;
    /// Takes in what made the descriptor readable, without blocking: every state the session
    /// went through since the last call, oldest first (a lock and an unlock both count).
    virtual std::vector<SessionState> process() = 0;
    /// The latest state.
    virtual SessionState state() const = 0;
};

struct LogindWatchSettings {
    /// Where logind is; empty for the system bus.
    std::string busAddress;
    /// The pause before connecting again after the bus failed, doubled up to `longestRetry`.
    std::chrono::milliseconds firstRetry{250};
    std::chrono::milliseconds longestRetry{8000};
};

/// logind's `LockedHint` and `Active` of this process's session, believed from logind alone
/// and read from it on each change it announces. Where there is no bus, no logind or no
/// session at the start (a container), the session counts as never locked and always active.
/// Once followed, while the bus or logind is gone, the session counts as away from the seat
/// until both are back.
std::unique_ptr<SessionLockWatch> makeLogindSessionLockWatch(LogindWatchSettings settings = {});

}  // namespace kelvra
