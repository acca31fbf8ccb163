// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "backend/BackendSupervising.h"

namespace kelvra {

/// Runs the backend server, one at a time: launches it on a binding, stops it, and knows the
/// address it is ready at. The controller's start and shutdown and the server settings applier
/// share it; what happens to the backend goes out through `Events`, never back to a caller.
/// Once closed (quitting has begun) its backend's reports are dropped. Main thread only.
class BackendHost : public std::enable_shared_from_this<BackendHost> {
public:
    /// The ready URL of a launched backend.
    using Launched = std::expected<std::string, BackendStartError>;

    struct Events {
        /// The backend keys may go to: a launched one, or none.
        std::function<void(std::shared_ptr<BackendSupervising>)> currentChanged;
        /// A launch is ready at the URL; not while closed.
        std::function<void(const std::string& url)> ready;
        /// The running backend is going away: its address no longer holds.
        std::function<void()> stopping;
        /// The current backend's own reports, while it is current and the host is open.
        BackendSupervisorCallbacks reports;
    };

    static std::shared_ptr<BackendHost> create(BackendSupervisorFactory makeSupervisor,
                                               Events events);

    BackendHost(const BackendHost&) = delete;
    BackendHost& operator=(const BackendHost&) = delete;

    /// The control page's address while a backend is ready.
    const std::optional<std::string>& readyURL() const { return readyURL_; }
    bool isClosed() const { return closed_; }
    /// Quitting has begun: no address holds any more, reports of the backend are dropped and no
    /// readiness is announced.
    void close() {
        closed_ = true;
        readyURL_.reset();
    }

    /// Starts a backend on `binding`. One that fails to start has been stopped when
    /// `completion` runs.
    void launch(const BackendServerBinding& binding, std::function<void(Launched)> completion);
    /// The running backend goes away; `stopped` runs once it has stopped (at once when none
    /// runs).
    void stop(std::function<void()> stopped);

private:
    BackendHost(BackendSupervisorFactory makeSupervisor, Events events)
        : makeSupervisor_(std::move(makeSupervisor)), events_(std::move(events)) {}

    BackendSupervisorCallbacks reportsFor(const std::shared_ptr<BackendSupervising>& supervisor);
    void launchFailed(const std::shared_ptr<BackendSupervising>& failed, BackendStartError error,
                      std::function<void(Launched)> completion);
    static void stopSupervisor(std::shared_ptr<BackendSupervising> supervisor,
                               std::function<void()> completion);

    const BackendSupervisorFactory makeSupervisor_;
    const Events events_;
    std::shared_ptr<BackendSupervising> backend_;
    std::optional<std::string> readyURL_;
    bool closed_ = false;
};

}  // namespace kelvra
