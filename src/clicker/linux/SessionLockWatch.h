// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
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

/// logind's `LockedHint` and `Active` of this process's session, over the system bus. When
/// there is no bus or no session, the session counts as never locked and always active.
std::unique_ptr<SessionLockWatch> makeLogindSessionLockWatch();

}  // namespace kelvra
