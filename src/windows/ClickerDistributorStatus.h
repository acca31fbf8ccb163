// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include "backend/DesktopProtocol.h"
#include "clicker/AccessibilityPermissionProviding.h"
#include "clicker/ClickerInputMonitoring.h"
#include "windows/widgets/ThemeColors.h"

namespace kelvra {

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
