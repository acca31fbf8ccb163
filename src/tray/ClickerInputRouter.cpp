// SPDX-License-Identifier: MIT
#include "tray/ClickerInputRouter.h"

#include <variant>

namespace kelvra {

ClickerInputRouter::ClickerInputRouter(std::shared_ptr<MainThreadExecutor> mainThread,
                                       std::function<void(ClickerDirection)> onTestInput)
    : mainThread_(std::move(mainThread)), onTestInput_(std::move(onTestInput)) {}

void ClickerInputRouter::setBackend(std::shared_ptr<BackendSupervising> backend) {
    auto commands = backend ? backend->clickerCommands() : nullptr;
    {
        std::lock_guard lock(lock_);
        std::swap(backend_, backend);
        std::swap(commands_, commands);
    }
    // The ones replaced are released here, outside the lock.
}

std::shared_ptr<BackendSupervising> ClickerInputRouter::backend() const {
    std::lock_guard lock(lock_);
    return backend_;
}

void ClickerInputRouter::setInputTestRequired(bool required) {
    std::lock_guard lock(lock_);
    inputTestRequired_ = required;
}

void ClickerInputRouter::route(const ClickerCapturedInput& input) {
    std::shared_ptr<ClickerCommandInput> commands;
    bool testing = false;
    {
        std::lock_guard lock(lock_);
        commands = commands_;
        testing = inputTestRequired_;
    }
    if (testing) {
        if (const auto* direction = std::get_if<ClickerDirection>(&input)) {
            mainThread_->post(
                [onTestInput = onTestInput_, direction = *direction] { onTestInput(direction); });
        }
        return;
    }
    if (commands) {
        std::visit([&commands](auto value) { commands->write(value); }, input);
    }
}

}  // namespace kelvra
