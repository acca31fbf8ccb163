// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/LogSink.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "server_config/HubServerConfigurationResolver.h"
#include "server_config/ServerSettingsApplied.h"
#include "tray/BackendHost.h"
#include "tray/OperationQueue.h"
#include "tray/SettingsService.h"

namespace kelvra {

/// Moves the server to new settings: stops it, starts it on the new settings and stores them
/// once it runs, and brings the previous server back when the new one cannot start; when that
/// fails too, the answer is `restoreFailed` and the application is to end. Follows network
/// changes the same way. Applies run
/// one after another in the operation queue shared with the server's start and shutdown.
/// Main thread only.
class ServerSettingsApplier : public std::enable_shared_from_this<ServerSettingsApplier> {
public:
    struct Dependencies {
        std::shared_ptr<BackendHost> host;
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
    /// that arrive while a restart waits join it; `completion` answers a restart that ran.
    void networkServicesDidChange(Completion completion);

    /// The stored settings, resolved against the services there are now.
    BackendServerBinding resolveStored() const;
    /// The server started at launch runs on `binding`.
    void serverStarted(BackendServerBinding binding);

private:
    struct Apply;

    explicit ServerSettingsApplier(Dependencies dependencies)
        : dependencies_(std::move(dependencies)) {}

    BackendServerBinding resolve(const HubServerConfiguration& configuration) const;
    void applyOperation(std::shared_ptr<Apply> apply);
    void launchNew(std::shared_ptr<Apply> apply);
    void restorePrevious(std::shared_ptr<Apply> apply, std::string failure);
    void followNetworkChange(std::function<void()> done, Completion completion);

    const Dependencies dependencies_;
    /// Where the running server listens; none before the first start succeeded.
    std::optional<BackendServerBinding> runningBinding_;
    /// A network-change restart waits in the queue; later changes join it.
    bool networkChangeQueued_ = false;
    /// Its answer, that of the latest change joined.
    Completion networkChangeCompletion_;
};

}  // namespace kelvra
