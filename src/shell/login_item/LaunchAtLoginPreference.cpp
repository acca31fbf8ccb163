// SPDX-License-Identifier: MIT
#include "shell/login_item/LaunchAtLoginPreference.h"

namespace kelvra {
namespace {

bool isUnregistered(LoginItemStatus status) {
    return status == LoginItemStatus::notRegistered || status == LoginItemStatus::notFound;
}

}  // namespace

LaunchAtLoginPreference::LaunchAtLoginPreference(std::shared_ptr<LoginItemService> service,
                                                 std::shared_ptr<SettingsStore> defaults)
    : service_(std::move(service)), defaults_(std::move(defaults)) {}

std::expected<void, LaunchAtLoginPreference::Failure>
LaunchAtLoginPreference::applyDefaultIfNeeded() {
    if (defaults_->boolean(kDefaultAppliedKey).value_or(false)) {
        return {};
    }
    if (auto recorded = defaults_->setBoolean(kDefaultAppliedKey, true); !recorded) {
        return std::unexpected(recorded.error());
    }
    if (isUnregistered(service_->status())) {
        if (auto registered = service_->registerItem(); !registered) {
            return std::unexpected(registered.error());
        }
    }
    return {};
}

std::expected<LaunchAtLoginState, LaunchAtLoginPreference::Failure>
LaunchAtLoginPreference::setEnabled(bool enabled) {
    if (auto recorded = defaults_->setBoolean(kDefaultAppliedKey, true); !recorded) {
        return std::unexpected(recorded.error());
    }
    if (enabled) {
        if (service_->status() != LoginItemStatus::enabled) {
            if (auto registered = service_->registerItem(); !registered) {
                return std::unexpected(registered.error());
            }
        }
        if (service_->status() == LoginItemStatus::requiresApproval) {
            service_->openSystemSettingsLoginItems();
        }
    } else if (!isUnregistered(service_->status())) {
        if (auto unregistered = service_->unregister(); !unregistered) {
            return std::unexpected(unregistered.error());
        }
    }
    return state();
}

LaunchAtLoginState LaunchAtLoginPreference::state() const {
    return stateFor(service_->status());
}

LaunchAtLoginState LaunchAtLoginPreference::stateFor(LoginItemStatus status) {
    switch (status) {
        case LoginItemStatus::enabled:
            return LaunchAtLoginState::enabled;
        case LoginItemStatus::requiresApproval:
            return LaunchAtLoginState::requiresApproval;
        case LoginItemStatus::notRegistered:
        case LoginItemStatus::notFound:
            return LaunchAtLoginState::disabled;
    }
    return LaunchAtLoginState::disabled;
}

}  // namespace kelvra
