// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <QObject>

#include "backend/AppOptions.h"
#include "core/Environment.h"

namespace kelvra {

class AppUpdater;
class FileLog;
class QtMainThreadExecutor;
class QtStatusBarView;
class SingleInstanceCoordinator;
class StatusBarController;
class TerminationSignals;
class TrayWindows;
class UpdateDialogs;

/// The application's launch and termination. The launch sequence runs from the event loop's
/// first turn, where quitting works: it takes the per-user instance lock (a second instance
/// hands an open request to the first and ends), opens the log, creates the updater and the
/// controller and starts the backend.
///
/// Termination is asked for, never done directly: each request is queued and answered now or
/// cancel. The first request while the controller runs is cancelled and starts its shutdown;
/// once the backend has stopped the delegate asks again and that request ends the loop. Quit
/// requests of the desktop (session end, SIGTERM, SIGINT, SIGHUP) take this path without the
/// confirmation the menu asks for.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(AppOptions options, QObject* parent = nullptr);
    ~AppDelegate() override;

    /// Queues the launch sequence for the loop's first turn.
    void scheduleLaunch();

    /// Asks the application to terminate; answered on a later turn of the loop.
    void requestTermination();

    /// The status the process exits with once the loop has ended.
    int exitStatus() const { return exitStatus_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Services;

    /// The launch: the steps below in turn; a step that ends the launch answers false.
    void applicationDidFinishLaunching();
    void installTerminationRequests();
    /// Takes the instance lock, or hands an open request to the running instance and ends.
    bool becomePrimaryInstance(const Environment& environment);
    bool openLog();
    Services makeServices(const Environment& environment) const;
    void makeView();
    /// The updater and the controller.
    void makeController(const Services& services);
    /// The windows over the controller and the settings, and what the tray's menu reaches.
    void makeWindows(const Services& services);
    /// Starts the updater, the open handler and the backend.
    void start();
    bool applicationShouldTerminate();
    /// An open request from a second launch, with the XDG activation token it was started with.
    void handleOpenRequest(const std::optional<std::string>& activationToken);
    void failLaunch(const class Error& error);

    const AppOptions options_;
    std::shared_ptr<QtMainThreadExecutor> mainThread_;
    std::unique_ptr<TerminationSignals> terminationSignals_;
    std::shared_ptr<SingleInstanceCoordinator> singleInstance_;
    std::shared_ptr<FileLog> log_;
    std::shared_ptr<QtStatusBarView> view_;
    std::shared_ptr<UpdateDialogs> updateDialogs_;
    std::shared_ptr<AppUpdater> updater_;
    std::shared_ptr<StatusBarController> controller_;
    /// Destroyed before the controller, whose Clicker Distributor model a window shows.
    std::unique_ptr<TrayWindows> windows_;
    bool terminationInProgress_ = false;
    bool terminationApproved_ = false;
    int exitStatus_ = 0;
};

}  // namespace kelvra
