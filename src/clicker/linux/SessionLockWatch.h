// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

namespace kelvra {

/// Whether the user's session is locked, and whether it is the seat's active session (not
/// another user's, nor a text console, switched to), followed without blocking. Used from one
/// thread at a time; `locked` is cheap enough for every key event.
class SessionLockWatch {
public:
    virtual ~SessionLockWatch() = default;

    /// Readable when the lock state may have changed; -1 when it is not followed.
    virtual int descriptor() const = 0;
    /// Takes in what made the descriptor readable, without blocking.
    virtual void process() = 0;
    virtual bool locked() const = 0;
    /// While not active, the person at the seat is someone else, or no one.
    virtual bool active() const = 0;
};

/// logind's `LockedHint` and `Active` of this process's session, over the system bus. When
/// there is no bus or no session, the session counts as never locked and always active.
std::unique_ptr<SessionLockWatch> makeLogindSessionLockWatch();

}  // namespace kelvra
