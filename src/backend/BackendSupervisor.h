// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "backend/BackendCallbackRelay.h"
#include "backend/BackendCommandChannel.h"
#include "backend/BackendLaunchInfo.h"
#include "backend/BackendOutputLog.h"
#include "backend/BackendOutputWatcher.h"
#include "backend/BackendStopSequence.h"
#include "backend/BackendSupervising.h"
#include "backend/BackendSupervisorTimeouts.h"
#include "core/BackendServerBinding.h"
#include "core/CancellableWork.h"
#include "core/DescriptorWatching.h"
#include "core/LogSink.h"
#include "core/MainThreadExecutor.h"

namespace kelvra {

/// Runs one backend server child: starts it, reads what it prints (`BackendOutputWatcher`, in
/// the main thread's loop), writes its commands (`BackendCommandChannel`) and stops it
/// (`BackendStopSequence`). Its deadlines for startup and switch requests run on the main
/// thread's clock.
///
/// Writing to a child that has died must fail with EPIPE rather than end the application:
/// the process ignores SIGPIPE before it creates a supervisor (`main` does).
///
/// Owners stop a supervisor before they release it. One released while its child runs leaves
/// the stop sequence to run on its own thread, and fails what is still pending at once.
class BackendSupervisor final : public BackendSupervising,
                                public std::enable_shared_from_this<BackendSupervisor> {
public:
    static std::shared_ptr<BackendSupervisor> create(
        BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
        std::optional<BackendServerBinding> serverBinding,
        std::shared_ptr<MainThreadExecutor> mainThread,
        std::shared_ptr<DescriptorWatching> mainThreadWatching,
        BackendSupervisorTimeouts timeouts = {});

    ~BackendSupervisor() override;
    BackendSupervisor(const BackendSupervisor&) = delete;
    BackendSupervisor& operator=(const BackendSupervisor&) = delete;

    void setCallbacks(BackendSupervisorCallbacks callbacks) override;
    void detachCallbacks() override;

    /// Completes with the control page's address when the child reports readiness, or with the
    /// error when it fails to launch, exits, breaks the protocol first or misses the deadline.
    /// After a stop it fails at once: the supervisor never starts then. Call on the main thread,
    /// whose loop reads the child's output.
    void start(StartCompletion completion) override;

    void stop(std::function<void()> completion) override;
    std::shared_ptr<ClickerCommandInput> clickerCommands() override;
    void setClickerDistributorEnabled(bool enabled, UpdateCompletion completion) override;
    std::optional<int32_t> recordedExitCode() const override;
    std::optional<pid_t> processIdentifier() const override;

private:
    /// The supervisor's life. A failed supervisor's child may still run until it is stopped;
    /// `ended` is final: the child is gone, the stop gave up on it, or it never started.
    enum class Phase { idle, launching, ready, failed, stopping, ended };

    BackendSupervisor(BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
                      std::optional<BackendServerBinding> serverBinding,
                      std::shared_ptr<MainThreadExecutor> mainThread,
                      std::shared_ptr<DescriptorWatching> mainThreadWatching,
                      BackendSupervisorTimeouts timeouts);

    Environment childEnvironment() const;
    BackendOutputEvents outputEvents();
    void handle(BackendStream stream, const std::string& line);
    void becomeReady(const std::string& url);
    void fail(BackendStartError error);
    void childExited(ChildProcess::Exit exit);
    void stopFinished();
    void completeStart(StartCompletion completion, std::expected<std::string, BackendStartError>);

    const BackendLaunchInfo launchInfo_;
    const std::shared_ptr<LogSink> log_;
    /// What the child prints goes to the log through this, so a flood cannot fill the disk.
    const std::shared_ptr<BackendOutputLog> outputLog_;
    const std::optional<BackendServerBinding> serverBinding_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const std::shared_ptr<DescriptorWatching> mainThreadWatching_;
    const BackendSupervisorTimeouts timeouts_;
    BackendCallbackRelay relay_;
    const std::shared_ptr<BackendCommandChannel> commands_;

    mutable std::mutex mutex_;
    Phase phase_ = Phase::idle;
    std::shared_ptr<ChildProcess> process_;
    std::shared_ptr<BackendStopSequence> stopSequence_;
    StartCompletion startCompletion_;
    CancellableWork startupDeadline_;
    std::optional<int32_t> recordedExitCode_;
};

/// Makes real supervisors for the launch described by `launchInfo`.
BackendSupervisorFactory makeBackendSupervisorFactory(
    BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
    std::shared_ptr<MainThreadExecutor> mainThread,
    std::shared_ptr<DescriptorWatching> mainThreadWatching,
    BackendSupervisorTimeouts timeouts = {});

}  // namespace kelvra
