// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

#include "clicker/AccessibilityPermissionProviding.h"

namespace kelvra::testing {

/// Keyboard access as the test sets it; a request is granted only if it already is.
class FakePermissionProvider final : public AccessibilityPermissionProviding {
public:
    AccessibilityAuthorizationStatus authorizationStatus() override { return status; }
    void requestAccess(std::function<void(bool)> completion) override {
        completion(status == AccessibilityAuthorizationStatus::granted);
    }
    void openSystemSettings() override {}

    AccessibilityAuthorizationStatus status = AccessibilityAuthorizationStatus::granted;
};

}  // namespace kelvra::testing
