// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "backend/BackendSupervising.h"
#include "core/LogSink.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "server_config/HubServerConfigurationResolver.h"
#include "status_bar/OperationQueue.h"
#include "status_bar/SettingsService.h"
#include "status_bar/StatusBarView.h"

namespace kelvra {

/// What restarting the server needs from the one who runs the backend. Main thread only.
class BackendRestarting {
public:
    /// The ready URL of a launched backend.
    using Launched = std::expected<std::string, BackendStartError>;

    virtual ~BackendRestarting() = default;

    /// The control page's address while a server is ready.
    virtual std::optional<std::string> readyURL() const = 0;
    /// Whether quitting has begun: nothing is to launch, and failures are only logged.
    virtual bool isClosing() const = 0;
    /// The running backend goes away: its address is forgotten, keys and windows lose it, and
    /// `stopped` runs once it has stopped (at once when none runs).
    virtual void stopForRestart(std::function<void()> stopped) = 0;
    /// Launches a backend on `binding`. One that fails to start has been stopped when
    /// `completion` runs.
    virtual void launchBackend(const BackendServerBinding& binding,
                               std::function<void(Launched)> completion) = 0;
    /// The launched backend serves at `url`.
    virtual void setReady(const std::string& url) = 0;
    /// One alert, then termination.
    virtual void showFatalError(const std::string& message) = 0;
};

/// Moves the server to new settings: stops it, starts it on the new settings and stores them
/// once it runs, and brings the previous server back when the new one cannot start; only when
/// that fails too does the application end. Follows network changes the same way. Applies run
/// one after another in the operation queue shared with the server's start and shutdown.
/// Main thread only.
class ServerSettingsApplier : public std::enable_shared_from_this<ServerSettingsApplier> {
public:
    struct Dependencies {
        /// Held weakly: it owns the applier.
        std::weak_ptr<BackendRestarting> backend;
        std::shared_ptr<OperationQueue> operations;
        std::shared_ptr<SettingsService> settings;
        std::shared_ptr<const HubNetworkServiceProvider> networkServiceProvider;
        std::shared_ptr<LogSink> log;
    };
    using Completion = std::function<void(ServerSettingsApplyResult)>;

    static std::shared_ptr<ServerSettingsApplier> create(Dependencies dependencies);

    ServerSettingsApplier(const ServerSettingsApplier&) = delete;
    ServerSettingsApplier& operator=(const ServerSettingsApplier&) = delete;

    /// Restarts the server with `configuration`. Without `forceRestart`, the stored
    /// configuration while a server is ready is answered with the current address at once.
    /// Once quitting has begun, answers `appIsClosing`.
    void apply(const HubServerConfiguration& configuration, bool forceRestart,
               Completion completion);

    /// The networks changed: restarts when the stored settings now resolve differently. Changes
    /// that arrive while a restart waits join it.
    void networkServicesDidChange();

    /// The stored settings, resolved against the services there are now.
    ResolvedHubServerConfiguration resolveStored() const;
    /// The server started at launch runs on `resolution`.
    void serverStarted(ResolvedHubServerConfiguration resolution);

private:
    struct Apply;

    explicit ServerSettingsApplier(Dependencies dependencies)
        : dependencies_(std::move(dependencies)) {}

    /// `work(applier, backend, arguments…)` as a callback that does nothing once either is gone.
    template <typename Work>
    auto weakly(Work work) {
        return [weakSelf = weak_from_this(), work = std::move(work)](auto&&... arguments) mutable {
            auto self = weakSelf.lock();
            auto backend = self ? self->dependencies_.backend.lock() : nullptr;
            if (backend) {
                work(*self, *backend, std::forward<decltype(arguments)>(arguments)...);
            }
        };
    }

    ResolvedHubServerConfiguration resolve(const HubServerConfiguration& configuration) const;
    void applyOperation(std::shared_ptr<Apply> apply, BackendRestarting& backend);
    void launchNew(std::shared_ptr<Apply> apply, BackendRestarting& backend);
    void restorePrevious(std::shared_ptr<Apply> apply, BackendRestarting& backend,
                         std::string failure);
    void followNetworkChange(std::function<void()> done, BackendRestarting& backend);

    const Dependencies dependencies_;
    /// Where the running server listens; none before the first start succeeded.
    std::optional<ResolvedHubServerConfiguration> resolvedServerConfiguration_;
    /// A network-change restart waits in the queue; later changes join it.
    bool networkChangeQueued_ = false;
};

}  // namespace kelvra
