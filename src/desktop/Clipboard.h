// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace kelvra::Clipboard {

/// Puts `text` on the clipboard as plain text and reads it back. On Wayland, where an
/// application without a focused window may not own the clipboard, `wl-copy` takes over when
/// it is installed, judged by its exit status; without a focused window it is the only way.
/// Whether the text is on the clipboard now.
bool copyPlainText(const QString& text);

}  // namespace kelvra::Clipboard
