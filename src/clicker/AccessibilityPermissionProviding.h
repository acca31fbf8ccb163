// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

namespace kelvra {

/// Whether the keyboard listener may run: `denied` means not granted now, but asked for (or
/// granted) before.
enum class AccessibilityAuthorizationStatus { granted, denied, notDetermined };

/// Reads, requests and explains the keyboard access the listener needs. Used on the main thread.
class AccessibilityPermissionProviding {
public:
    virtual ~AccessibilityPermissionProviding() = default;

    virtual AccessibilityAuthorizationStatus authorizationStatus() = 0;
    /// Asks the user for access without blocking (the system's dialog may stay open for
    /// minutes); `completion` learns on the main thread whether access is granted afterwards.
    virtual void requestAccess(std::function<void(bool granted)> completion) = 0;
    /// Shows the user how access is granted and taken back.
    virtual void openSystemSettings() = 0;
};

}  // namespace kelvra
