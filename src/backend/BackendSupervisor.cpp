// SPDX-License-Identifier: MIT
#include "backend/BackendSupervisor.h"

namespace kelvra {
namespace {

using StartOutcome = std::expected<std::string, BackendStartError>;

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

const BackendSupervisorError kUnavailable(BackendSupervisorError::Kind::backendUnavailable);

}  // namespace

std::shared_ptr<BackendSupervisor> BackendSupervisor::create(
    BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
    std::optional<BackendServerBinding> serverBinding,
    std::shared_ptr<MainThreadExecutor> mainThread,
    std::shared_ptr<DescriptorWatching> mainThreadWatching, BackendSupervisorTimeouts timeouts) {
    return std::shared_ptr<BackendSupervisor>(
        new BackendSupervisor(std::move(launchInfo), std::move(log), std::move(serverBinding),
                              std::move(mainThread), std::move(mainThreadWatching), timeouts));
}

BackendSupervisor::BackendSupervisor(BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
                                     std::optional<BackendServerBinding> serverBinding,
                                     std::shared_ptr<MainThreadExecutor> mainThread,
                                     std::shared_ptr<DescriptorWatching> mainThreadWatching,
                                     BackendSupervisorTimeouts timeouts)
    : launchInfo_(std::move(launchInfo)),
      log_(std::move(log)),
      outputLog_(std::make_shared<BackendOutputLog>(log_)),
      serverBinding_(std::move(serverBinding)),
      mainThread_(std::move(mainThread)),
      mainThreadWatching_(std::move(mainThreadWatching)),
      timeouts_(timeouts),
      relay_(mainThread_),
      commands_(BackendCommandChannel::create(log_, mainThread_, timeouts.clickerUpdate)) {}

BackendSupervisor::~BackendSupervisor() {
    // Nobody else holds this object now, so its fields are read without the lock.
    startupDeadline_.cancel();
    if (startCompletion_) {
        completeStart(std::move(startCompletion_), std::unexpected(kUnavailable));
    }
    const bool running =
        phase_ == Phase::launching || phase_ == Phase::ready || phase_ == Phase::failed;
    if (running && stopSequence_) {
        // Nobody waits for this stop; it goes on without us.
        stopSequence_->stop({});
    }
    commands_->end();
}

void BackendSupervisor::setCallbacks(BackendSupervisorCallbacks callbacks) {
    relay_.set(std::move(callbacks));
}

void BackendSupervisor::detachCallbacks() {
    relay_.detach();
}

std::optional<int32_t> BackendSupervisor::recordedExitCode() const {
    std::lock_guard lock(mutex_);
    return recordedExitCode_;
}

std::optional<pid_t> BackendSupervisor::processIdentifier() const {
    std::lock_guard lock(mutex_);
    return process_ ? std::optional<pid_t>(process_->pid()) : std::nullopt;
}

Environment BackendSupervisor::childEnvironment() const {
    Environment environment = currentEnvironment();
    environment["NODE_ENV"] = launchInfo_.isDevelopment ? "development" : "production";
    // The backend may rely on this value; it names the capture mode, not the platform we run on.
    environment["KELVRA_HUB_CLICKER_CAPTURE"] = "macos";
    if (serverBinding_) {
        environment["KELVRA_HUB_DESKTOP_HOST"] = serverBinding_->bindHost;
        environment["KELVRA_HUB_DESKTOP_PORT"] = std::to_string(serverBinding_->port);
        environment["KELVRA_HUB_DESKTOP_URL_HOST"] = serverBinding_->urlHost;
    }
    return environment;
}

void BackendSupervisor::completeStart(StartCompletion completion, StartOutcome outcome) {
    relay_.complete(std::move(completion), std::move(outcome));
}

void BackendSupervisor::start(StartCompletion completion) {
    std::optional<BackendSupervisorError> refusal;
    {
        std::lock_guard lock(mutex_);
        if (phase_ == Phase::idle) {
            phase_ = Phase::launching;
            startCompletion_ = std::move(completion);
        } else {
            refusal = process_ ? BackendSupervisorError::Kind::alreadyStarted
                               : BackendSupervisorError::Kind::backendUnavailable;
        }
    }
    if (refusal) {
        completeStart(std::move(completion), std::unexpected(*refusal));
        return;
    }

    auto spawned = ChildProcess::spawn({launchInfo_.nodePath,
                                        {launchInfo_.entryPointPath.string()},
                                        launchInfo_.workingDirectory,
                                        childEnvironment()});
    if (!spawned) {
        StartCompletion pending;
        {
            std::lock_guard lock(mutex_);
            phase_ = Phase::ended;
            pending = std::exchange(startCompletion_, nullptr);
        }
        if (pending) {
            completeStart(std::move(pending), std::unexpected(BackendSupervisorError::launchFailed(
                                                  launchInfo_.nodePath, spawned.error())));
        }
        return;
    }
    const auto process = spawned->process;
    auto input = std::make_shared<UniqueFd>(std::move(spawned->pipes.standardInput));
    auto gone = std::make_shared<BackendExitSignal>();
    auto sequence = std::make_shared<BackendStopSequence>(process, gone, input, log_, timeouts_);
    commands_->attach(std::move(input));
    log_->write("shell", "Started backend PID " + std::to_string(process->pid()) + ".");
    auto deadline = mainThread_->postDelayed(
        std::chrono::duration_cast<MainThreadExecutor::Duration>(timeouts_.startup),
        [weakSelf = weak_from_this(), seconds = timeouts_.startup.count()] {
            if (auto self = weakSelf.lock()) {
                self->fail(BackendSupervisorError::startupTimeout(seconds));
            }
        });
    bool stoppedMeanwhile = false;
    {
        std::lock_guard lock(mutex_);
        process_ = process;
        stopSequence_ = sequence;
        startupDeadline_ = deadline;
        stoppedMeanwhile = phase_ != Phase::launching;
    }
    BackendOutputWatcher::watch(
        mainThreadWatching_, process, std::move(spawned->pipes.standardOutput),
        std::move(spawned->pipes.standardError), outputEvents(), std::move(gone));
    if (stoppedMeanwhile) {
        sequence->stop({});
    }
}

BackendOutputEvents BackendSupervisor::outputEvents() {
    // The watcher may outlive the supervisor; it reports to nobody then.
    return {
        .line =
            [weakSelf = weak_from_this()](BackendStream stream, const std::string& line) {
                if (auto self = weakSelf.lock()) {
                    self->handle(stream, line);
                }
            },
        .protocolFailure =
            [weakSelf = weak_from_this()](const DesktopProtocolError& error) {
                if (auto self = weakSelf.lock()) {
                    self->fail(error);
                }
            },
        .exit =
            [weakSelf = weak_from_this()](ChildProcess::Exit exit) {
                if (auto self = weakSelf.lock()) {
                    self->childExited(exit);
                }
            },
    };
}

void BackendSupervisor::handle(BackendStream stream, const std::string& line) {
    if (stream == BackendStream::standardError) {
        outputLog_->write("server:err", line);
        return;
    }
    // Events are acted on whether or not their line is logged.
    outputLog_->write("server", line);
    const auto event = DesktopProtocol::parseEvent(line);
    if (!event) {
        fail(event.error());
        return;
    }
    if (!event->has_value()) {
        return;
    }
    std::visit(Overloaded{
                   [this](const DesktopEvent::Ready& ready) { becomeReady(ready.url); },
                   [this](const DesktopEvent::ClickerListener& listener) {
                       relay_.deliver(&BackendSupervisorCallbacks::onClickerListenerChange,
                                      listener.enabled);
                   },
                   [this](const ClickerDistributorState& state) {
                       relay_.deliver(&BackendSupervisorCallbacks::onClickerDistributorStateChange,
                                      state);
                   },
                   [this](const ClickerDistributorUpdateResult& result) {
                       relay_.deliver(&BackendSupervisorCallbacks::onClickerDistributorUpdateResult,
                                      result);
                       commands_->answer(result);
                   },
                   [](const DesktopEvent::Unknown&) {},
               },
               **event);
}

void BackendSupervisor::becomeReady(const std::string& url) {
    StartCompletion pending;
    CancellableWork deadline;
    {
        std::lock_guard lock(mutex_);
        // Only the first readiness of a launching backend counts; a late one changes nothing.
        if (phase_ != Phase::launching) {
            return;
        }
        phase_ = Phase::ready;
        deadline = std::exchange(startupDeadline_, {});
        pending = std::exchange(startCompletion_, nullptr);
    }
    // Cancelled outside the lock: cancelling disarms the executor's timer.
    deadline.cancel();
    commands_->open();
    completeStart(std::move(pending), url);
}

// A missed deadline or a protocol failure before readiness fails the start; a protocol failure
// after it is fatal. Only the first failure counts.
void BackendSupervisor::fail(BackendStartError error) {
    const bool protocolFailure = std::holds_alternative<DesktopProtocolError>(error);
    StartCompletion pending;
    CancellableWork deadline;
    {
        std::lock_guard lock(mutex_);
        if (phase_ == Phase::launching) {
            deadline = std::exchange(startupDeadline_, {});
            pending = std::exchange(startCompletion_, nullptr);
        } else if (phase_ != Phase::ready || !protocolFailure) {
            return;
        }
        phase_ = Phase::failed;
    }
    deadline.cancel();
    commands_->close();
    if (pending) {
        completeStart(std::move(pending), std::unexpected(std::move(error)));
    } else {
        relay_.deliver(&BackendSupervisorCallbacks::onFatalProtocol,
                       std::get<DesktopProtocolError>(error));
    }
}

void BackendSupervisor::childExited(ChildProcess::Exit exit) {
    StartCompletion pending;
    CancellableWork deadline;
    Phase before;
    {
        std::lock_guard lock(mutex_);
        before = phase_;
        recordedExitCode_ = exit.signalled ? std::nullopt : std::optional<int32_t>(exit.status);
        deadline = std::exchange(startupDeadline_, {});
        pending = std::exchange(startCompletion_, nullptr);
        if (phase_ != Phase::stopping) {
            phase_ = Phase::ended;
        }
    }
    deadline.cancel();
    outputLog_->flush();
    log_->write("shell", "Backend exited with code " + std::to_string(exit.status) + ".");
    commands_->end();
    if (pending) {
        // Also during a stop: the start was still waiting for readiness.
        completeStart(std::move(pending),
                      std::unexpected(BackendSupervisorError::earlyExit(exit.status)));
    } else if (before == Phase::ready) {
        relay_.deliver(&BackendSupervisorCallbacks::onUnexpectedExit, exit.status);
    }
}

void BackendSupervisor::stop(std::function<void()> completion) {
    auto done = [mainThread = mainThread_, completion = std::move(completion)] {
        if (completion) {
            mainThread->post(completion);
        }
    };
    std::shared_ptr<BackendStopSequence> sequence;
    {
        std::lock_guard lock(mutex_);
        if (phase_ == Phase::idle || (phase_ != Phase::ended && !stopSequence_)) {
            phase_ = Phase::ended;  // never started, so it never will
        } else if (phase_ != Phase::ended) {
            phase_ = Phase::stopping;
            sequence = stopSequence_;
        }
    }
    commands_->close();
    if (!sequence) {
        done();
        return;
    }
    sequence->stop([weakSelf = weak_from_this(), done = std::move(done)] {
        if (auto self = weakSelf.lock()) {
            self->stopFinished();
        }
        done();
    });
}

void BackendSupervisor::stopFinished() {
    StartCompletion pending;
    {
        std::lock_guard lock(mutex_);
        phase_ = Phase::ended;
        pending = std::exchange(startCompletion_, nullptr);
    }
    commands_->end();
    if (pending) {  // the child would not go, and never became ready
        completeStart(std::move(pending), std::unexpected(kUnavailable));
    }
}

std::shared_ptr<ClickerCommandInput> BackendSupervisor::clickerCommands() {
    return commands_->clickerCommands();
}

void BackendSupervisor::setClickerDistributorEnabled(bool enabled, UpdateCompletion completion) {
    commands_->request(enabled, std::move(completion));
}

BackendSupervisorFactory makeBackendSupervisorFactory(
    BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
    std::shared_ptr<MainThreadExecutor> mainThread,
    std::shared_ptr<DescriptorWatching> mainThreadWatching, BackendSupervisorTimeouts timeouts) {
    return [launchInfo = std::move(launchInfo), log = std::move(log),
            mainThread = std::move(mainThread), mainThreadWatching = std::move(mainThreadWatching),
            timeouts](
               std::optional<BackendServerBinding> binding) -> std::shared_ptr<BackendSupervising> {
        return BackendSupervisor::create(launchInfo, log, std::move(binding), mainThread,
                                         mainThreadWatching, timeouts);
    };
}

}  // namespace kelvra
