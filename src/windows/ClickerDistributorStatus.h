// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

#include <QString>

#include "backend/DesktopProtocol.h"
#include "clicker/ClickerInputMonitoring.h"
#include "windows/widgets/ThemeColors.h"

namespace kelvra {

enum class AccessibilityAuthorizationStatus { granted, denied, notDetermined };

/// Keyboard access for the Clicker Distributor's listener: read, requested, explained.
class AccessibilityPermissionProviding {
public:
    virtual ~AccessibilityPermissionProviding() = default;
    virtual AccessibilityAuthorizationStatus authorizationStatus() = 0;
    /// Completes on the main thread with whether access is granted after the request.
    virtual void requestAccess(std::function<void(bool)> completion) = 0;
    virtual void openSystemSettings() = 0;
};

/// What the Clicker Distributor window's status line says, and whether it offers the
/// keyboard-access action.
struct ClickerDistributorStatus {
    /// Empty: the line is hidden.
    QString text;
    ThemeColors::Role colour = ThemeColors::Role::secondaryLabel;
    /// The access button's title; empty: the button is hidden.
    QString permissionAction;
};

/// The first that applies: access missing, listener failed, ready but no group receives
/// clicks, working (nothing to say), off.
ClickerDistributorStatus clickerDistributorStatus(const ClickerDistributorState& state,
                                                  AccessibilityAuthorizationStatus permission,
                                                  ClickerInputListenerState listener,
                                                  bool testingInput);

}  // namespace kelvra
