// SPDX-License-Identifier: MIT
#include "tray/ClickerInputRouter.h"

#include <variant>

namespace kelvra {

ClickerInputRouter::ClickerInputRouter(std::shared_ptr<MainThreadExecutor> mainThread,
                                       std::function<void(ClickerDirection)> onTestInput)
    : mainThread_(std::move(mainThread)), onTestInput_(std::move(onTestInput)) {}

void ClickerInputRouter::setBackend(std::shared_ptr<BackendSupervising> backend) {
    commands_.store(backend ? backend->clickerCommands() : nullptr);
    {
        std::lock_guard lock(lock_);
        std::swap(backend_, backend);
    }
    // The one replaced is released here, outside the lock.
}

std::shared_ptr<BackendSupervising> ClickerInputRouter::backend() const {
    std::lock_guard lock(lock_);
    return backend_;
}

void ClickerInputRouter::setInputTestRequired(bool required) {
    inputTestRequired_.store(required);
}

void ClickerInputRouter::route(const ClickerCapturedInput& input) {
    if (inputTestRequired_.load()) {
        if (const auto* direction = std::get_if<ClickerDirection>(&input)) {
            mainThread_->post(
                [onTestInput = onTestInput_, direction = *direction] { onTestInput(direction); });
        }
        return;
    }
    if (const auto commands = commands_.load()) {
        std::visit([&commands](auto value) { commands->write(value); }, input);
    }
}

}  // namespace kelvra
