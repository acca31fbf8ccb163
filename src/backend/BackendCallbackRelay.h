// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "backend/BackendSupervising.h"
#include "core/MainThreadExecutor.h"

namespace kelvra {

/// Carries a supervisor's reports to its owner on the main thread. Each delivery looks its
/// callback up only when it runs there, so callbacks detached on the main thread are never
/// called again, and a delivery that outlives the supervisor still finds its callbacks.
class BackendCallbackRelay {
public:
    explicit BackendCallbackRelay(std::shared_ptr<MainThreadExecutor> mainThread)
        : mainThread_(std::move(mainThread)) {}

    void set(BackendSupervisorCallbacks callbacks) {
        std::lock_guard lock(state_->mutex);
        state_->callbacks = std::move(callbacks);
    }

    void detach() { set({}); }

    /// Calls the callback in `member` with `arguments` on the main thread, if it is set then.
    template <typename Signature, typename... Arguments>
    void deliver(std::function<Signature> BackendSupervisorCallbacks::*member,
                 Arguments... arguments) {
        mainThread_->post([state = state_, member, arguments...] {
            std::function<Signature> callback;
            {
                std::lock_guard lock(state->mutex);
                callback = state->callbacks.*member;
            }
            if (callback) {
                callback(arguments...);
            }
        });
    }

    /// Runs a completion once on the main thread with `result`, whatever becomes of the relay.
    template <typename Completion, typename Result>
    void complete(Completion completion, Result result) {
        mainThread_->post([completion = std::move(completion), result = std::move(result)] {
            completion(result);
        });
    }

private:
    struct State {
        std::mutex mutex;
        BackendSupervisorCallbacks callbacks;
    };

    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace kelvra
