// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include "clicker/KeyboardTapBackend.h"
#include "core/Environment.h"

namespace kelvra {

/// The X11 tap, for X11 sessions without access to the keyboard devices: passive grabs of
/// exactly the assigned keystrokes on the root window, in every combination of the lock
/// modifiers, so that no other key ever reaches us. Grabs are synchronous: a key-down the
/// decision passes is replayed to the focused window as if never grabbed. No grab is taken over
/// a key that is held at the time; all grabs are released while recording. A grab another
/// client already holds is reported as a conflict. Never used under XWayland, whose grabs do not
/// reach Wayland windows.
///
/// Absent when the environment names no X display, or names a Wayland session.
std::unique_ptr<KeyboardTapBackend> makeX11KeyboardTap(const Environment& environment);

}  // namespace kelvra
