// SPDX-License-Identifier: MIT
#include "tray/ClickerInputRouter.h"

#include <variant>

namespace kelvra {

ClickerInputRouter::ClickerInputRouter(std::shared_ptr<MainThreadExecutor> mainThread,
                                       std::function<void(ClickerDirection)> onTestInput)
    : mainThread_(std::move(mainThread)), onTestInput_(std::move(onTestInput)) {}

void ClickerInputRouter::setBackend(std::shared_ptr<BackendSupervising> backend) {
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
    std::lock_guard lock(lock_);
    inputTestRequired_ = required;
}

void ClickerInputRouter::route(const ClickerCapturedInput& input) {
    std::shared_ptr<BackendSupervising> backend;
    bool testing = false;
    {
        std::lock_guard lock(lock_);
        backend = backend_;
        testing = inputTestRequired_;
    }
    // Outside the lock: the backend writes to its pipe, the window is reached on the main thread.
    if (const auto* direction = std::get_if<ClickerDirection>(&input)) {
        if (testing) {
            mainThread_->post(
                [onTestInput = onTestInput_, direction = *direction] { onTestInput(direction); });
        } else if (backend) {
            backend->sendClickerKey(*direction);
        }
        return;
    }
    if (!testing && backend) {
        backend->sendClickerAction(std::get<ClickerCustomAction>(input));
    }
}

}  // namespace kelvra
