// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <memory>

#include "core/SettingsStore.h"

namespace kelvra {

/// Whether the welcome window opens at startup.
class WelcomeWindowPreference {
public:
    static constexpr const char* kKey = "showWelcomeWindowAtStartup";

    explicit WelcomeWindowPreference(std::shared_ptr<SettingsStore> defaults)
        : defaults_(std::move(defaults)) {}

    /// True when nothing (or null) is stored, so a first run shows the window. A stored value of
    /// another type is read as a Boolean the way the platform's settings store reads one: numbers
    /// are true unless zero, texts when they start with "Y", "y", "T", "t" or a non-zero digit, and
    /// anything else is false.
    bool shouldShowAtStartup() const;

    std::expected<void, SettingsStoreError> setShouldShowAtStartup(bool show);

private:
    std::shared_ptr<SettingsStore> defaults_;
};

}  // namespace kelvra
