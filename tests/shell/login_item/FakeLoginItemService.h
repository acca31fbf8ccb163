// SPDX-License-Identifier: MIT
#pragma once

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "shell/login_item/LoginItemService.h"

namespace kelvra::testing {

/// The login item as the desktop keeps it; the test holds it to steer and inspect.
struct FakeLoginItem {
    LoginItemStatus status = LoginItemStatus::notRegistered;
    /// What registering leaves behind: enabled, unless the desktop keeps it switched off.
    LoginItemStatus afterRegister = LoginItemStatus::enabled;
    bool registerFails = false;
    bool unregisterFails = false;
    std::vector<std::string> calls;
};

class FakeLoginItemService final : public LoginItemService {
public:
    explicit FakeLoginItemService(
        std::shared_ptr<FakeLoginItem> item = std::make_shared<FakeLoginItem>())
        : item_(std::move(item)) {}

    LoginItemStatus status() const override { return item_->status; }
    std::expected<void, LoginItemError> registerItem() override {
        item_->calls.push_back("register");
        if (item_->registerFails) {
            return std::unexpected(
                LoginItemError(LoginItemError::Kind::writeEntry, "/autostart/entry", EROFS));
        }
        item_->status = item_->afterRegister;
        return {};
    }
    std::expected<void, LoginItemError> unregister() override {
        item_->calls.push_back("unregister");
        if (item_->unregisterFails) {
            return std::unexpected(
                LoginItemError(LoginItemError::Kind::removeEntry, "/autostart/entry", EACCES));
        }
        item_->status = LoginItemStatus::notRegistered;
        return {};
    }
    void openSystemSettingsLoginItems() override { item_->calls.push_back("open settings"); }

private:
    std::shared_ptr<FakeLoginItem> item_;
};

}  // namespace kelvra::testing
