// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backend/BackendCallbackRelay.h"
#include "backend/BackendLaunchInfo.h"
#include "backend/BackendServerBinding.h"
#include "backend/BackendSupervising.h"
#include "backend/BackendSupervisorError.h"
#include "backend/ChildProcess.h"
#include "backend/DesktopProtocol.h"
#include "backend/UTF8LineBuffer.h"
#include "clicker/ClickerInputConfiguration.h"
#include "core/LogSink.h"
#include "core/MainThreadExecutor.h"
#include "core/SerialQueue.h"
#include "core/UniqueFd.h"

namespace kelvra {

/// The supervisor's deadlines; tests shorten them.
struct BackendSupervisorTimeouts {
    using Seconds = std::chrono::duration<double>;
    Seconds startup{15};
    Seconds shutdown{5};
    Seconds terminate{2};
    Seconds kill{1};
    /// How long a second `stop` waits for the first one's work.
    Seconds concurrentStop{8};
    Seconds clickerUpdate{5};
};

/// Runs one backend server child: starts it, frames and decodes what it prints, writes its
/// commands and stops it.
///
/// Writing to a child that has died must fail with EPIPE rather than end the application:
/// the process ignores SIGPIPE before it creates a supervisor (`main` does).
class BackendSupervisor final : public BackendSupervising,
                                public std::enable_shared_from_this<BackendSupervisor> {
public:
    using Seconds = std::chrono::duration<double>;

    static std::shared_ptr<BackendSupervisor> create(
        BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
        std::optional<BackendServerBinding> serverBinding,
        std::shared_ptr<MainThreadExecutor> mainThread, BackendSupervisorTimeouts timeouts = {});

    ~BackendSupervisor() override;
    BackendSupervisor(const BackendSupervisor&) = delete;
    BackendSupervisor& operator=(const BackendSupervisor&) = delete;

    void setCallbacks(BackendSupervisorCallbacks callbacks) override;
    void detachCallbacks() override;

    /// Completes with the control page's address when the child reports readiness, or with the
    /// error when it fails to launch, exits, breaks the protocol first or misses the deadline.
    void start(StartCompletion completion) override;

    /// A second call only waits, up to `concurrentStop`.
    void stop(std::function<void()> completion) override;

    void sendClickerKey(ClickerDirection direction) override;
    void sendClickerAction(ClickerCustomAction action) override;
    void setClickerDistributorEnabled(bool enabled, UpdateCompletion completion) override;
    std::optional<int32_t> recordedExitCode() const override;
    std::optional<pid_t> processIdentifier() const override;

private:
    enum class StreamKind { standardOutput, standardError };
    enum class StopPhase { idle, awaitingShutdown, awaitingTerminate, awaitingKill, finished };

    BackendSupervisor(BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
                      std::optional<BackendServerBinding> serverBinding,
                      std::shared_ptr<MainThreadExecutor> mainThread,
                      BackendSupervisorTimeouts timeouts);

    struct WatchState;

    /// The I/O thread: reads both output pipes and sees the child's exit.
    static void watch(std::weak_ptr<BackendSupervisor> weakSelf,
                      std::shared_ptr<ChildProcess> process, std::shared_ptr<WatchState> state,
                      UniqueFd standardOutput, UniqueFd standardError);

    void launch(StartCompletion completion);
    Environment childEnvironment() const;
    void scheduleStartupTimeout();
    void finishStartup(std::expected<std::string, BackendStartError> outcome);
    void consume(StreamKind kind, std::string_view chunk);
    void handle(StreamKind kind, const std::string& line);
    void handleUpdateResult(const ClickerDistributorUpdateResult& result);
    void reportProtocolFailure(const DesktopProtocolError& error);
    void handleTermination(ChildProcess::Exit exit);

    bool writeCommand(const std::string& bytes);
    void logClickerWriteFailureOnce(int errorNumber);
    void finishClickerUpdate(const std::string& requestId,
                             std::expected<bool, BackendSupervisorError> result);

    void beginStop(std::function<void()> completion);
    void scheduleStopDeadline(Seconds delay, StopPhase phase);
    void escalateStop(StopPhase phase);
    void childGone();
    void releaseStopWaiter(uint64_t waiter);
    void finishStop();
    void closePipes();

    const BackendLaunchInfo launchInfo_;
    const std::shared_ptr<LogSink> log_;
    const std::optional<BackendServerBinding> serverBinding_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const BackendSupervisorTimeouts timeouts_;

    mutable std::mutex mutex_;
    bool startCalled_ = false;
    std::shared_ptr<ChildProcess> process_;
    std::shared_ptr<UniqueFd> standardInput_;
    UTF8LineBuffer stdoutBuffer_;
    UTF8LineBuffer stderrBuffer_;
    StartCompletion startupContinuation_;
    CancellableWork startupTimeoutWorkItem_;
    std::optional<std::string> readyURL_;
    bool stopping_ = false;
    bool stopStarted_ = false;
    bool exited_ = false;
    std::optional<int32_t> recordedExitCode_;
    bool fatalProtocolReported_ = false;
    bool standardInputIsNonBlocking_ = false;
    bool clickerWriteFailureLogged_ = false;
    std::map<std::string, UpdateCompletion> pendingClickerUpdates_;
    // Only the control queue touches the stop sequence's state.
    StopPhase stopPhase_ = StopPhase::idle;
    CancellableWork stopDeadline_;
    std::vector<std::function<void()>> stopCompletions_;
    std::map<uint64_t, std::function<void()>> stopWaiters_;
    uint64_t nextStopWaiter_ = 0;
    BackendCallbackRelay relay_;

    // Set once by the launch on the control queue.
    std::shared_ptr<WatchState> watchState_;
    std::thread watcher_;
    // Declared last: destroyed first, so no queued work outlives the fields it uses.
    SerialQueue inputWriteQueue_;
    SerialQueue controlQueue_;
};

}  // namespace kelvra

namespace kelvra {

/// Makes real supervisors for the launch described by `launchInfo`.
BackendSupervisorFactory makeBackendSupervisorFactory(
    BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
    std::shared_ptr<MainThreadExecutor> mainThread, BackendSupervisorTimeouts timeouts = {});

}  // namespace kelvra
