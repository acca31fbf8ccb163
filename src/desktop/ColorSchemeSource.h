// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QString>

namespace kelvra {

/// The desktop's light or dark choice, as the XDG appearance setting names it.
enum class ColorScheme { noPreference, preferDark, preferLight };

/// Where the desktop's light or dark choice comes from.
class ColorSchemeSource {
public:
    virtual ~ColorSchemeSource() = default;

    /// The choice now; absent where nothing answers for the desktop.
    virtual std::optional<ColorScheme> current() = 0;

    /// Calls `changed` on the main thread with each choice the desktop announces from now on.
    virtual void onChange(std::function<void(ColorScheme)> changed) = 0;
};

/// The XDG settings portal on the session bus, or on the bus at `busAddress`.
std::unique_ptr<ColorSchemeSource> makePortalColorSchemeSource(const QString& busAddress = {});

}  // namespace kelvra
