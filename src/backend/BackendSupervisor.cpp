// SPDX-License-Identifier: MIT
#include "backend/BackendSupervisor.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include "core/AppIdentity.h"
#include "core/Uuid.h"

namespace kelvra {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

bool makeNonBlocking(int descriptor) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    return flags >= 0 && ::fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == 0;
}

/// Writes all of `bytes` without ever waiting; false with errno set when it cannot.
bool writeAllNow(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

}  // namespace

/// What the watcher thread tells a destructor waiting for the child to go.
struct BackendSupervisor::WatchState {
    std::mutex mutex;
    std::condition_variable changed;
    bool childGone = false;

    void markChildGone() {
        {
            std::lock_guard lock(mutex);
            childGone = true;
        }
        changed.notify_all();
    }

    bool waitForChildGone(Seconds limit) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [this] { return childGone; });
    }
};

std::shared_ptr<BackendSupervisor> BackendSupervisor::create(
    BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
    std::optional<BackendServerBinding> serverBinding,
    std::shared_ptr<MainThreadExecutor> mainThread, BackendSupervisorTimeouts timeouts) {
    return std::shared_ptr<BackendSupervisor>(
        new BackendSupervisor(std::move(launchInfo), std::move(log), std::move(serverBinding),
                              std::move(mainThread), timeouts));
}

BackendSupervisor::BackendSupervisor(BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
                                     std::optional<BackendServerBinding> serverBinding,
                                     std::shared_ptr<MainThreadExecutor> mainThread,
                                     BackendSupervisorTimeouts timeouts)
    : launchInfo_(std::move(launchInfo)),
      log_(std::move(log)),
      serverBinding_(std::move(serverBinding)),
      mainThread_(std::move(mainThread)),
      timeouts_(timeouts),
      relay_(mainThread_),
      inputWriteQueue_(appIdentifier(".backend-input")),
      controlQueue_(appIdentifier(".backend-control")) {}

BackendSupervisor::~BackendSupervisor() {
    // Nobody else holds this object now, so the fields can be read without the lock.
    if (!watcher_.joinable()) {
        return;
    }
    const bool onWatcher = std::this_thread::get_id() == watcher_.get_id();
    if (onWatcher) {
        // The watcher finishes its current event, then reaps the child on its own.
        process_->signalGroup(SIGKILL);
        watcher_.detach();
        return;
    }
    // An owner that forgot to stop the backend: end it promptly rather than gracefully.
    process_->signalGroup(SIGTERM);
    if (!watchState_->waitForChildGone(timeouts_.terminate)) {
        process_->signalGroup(SIGKILL);
    }
    watcher_.join();
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

// Launching and stopping both run on the control queue, so a stop never races a launch.
void BackendSupervisor::start(StartCompletion completion) {
    controlQueue_.async([self = shared_from_this(), completion = std::move(completion)]() mutable {
        self->launch(std::move(completion));
    });
}

void BackendSupervisor::launch(StartCompletion completion) {
    bool alreadyStarted = false;
    {
        std::lock_guard lock(mutex_);
        alreadyStarted = startCalled_;
        if (!alreadyStarted) {
            startCalled_ = true;
            startupContinuation_ = std::move(completion);
        }
    }
    if (alreadyStarted) {
        relay_.complete(std::move(completion),
                        std::expected<std::string, BackendStartError>(std::unexpected(
                            BackendSupervisorError(BackendSupervisorError::Kind::alreadyStarted))));
        return;
    }

    auto spawned = ChildProcess::spawn({launchInfo_.nodeURL,
                                        {launchInfo_.entryPointURL.string()},
                                        launchInfo_.workingDirectoryURL,
                                        childEnvironment()});
    if (!spawned) {
        finishStartup(std::unexpected(
            BackendSupervisorError::launchFailed(launchInfo_.nodeURL, spawned.error())));
        return;
    }
    const bool nonBlocking = makeNonBlocking(spawned->pipes.standardInput.get());
    const pid_t pid = spawned->process->pid();
    {
        std::lock_guard lock(mutex_);
        process_ = spawned->process;
        standardInput_ = std::make_shared<UniqueFd>(std::move(spawned->pipes.standardInput));
        standardInputIsNonBlocking_ = nonBlocking;
    }
    if (!nonBlocking) {
        log_->write("shell",
                    "Could not configure non-blocking backend input; Clicker Distributor input "
                    "will be dropped.");
    }
    log_->write("shell", "Started backend PID " + std::to_string(pid) + ".");
    scheduleStartupTimeout();

    watchState_ = std::make_shared<WatchState>();
    watcher_ = std::thread(watch, weak_from_this(), spawned->process, watchState_,
                           std::move(spawned->pipes.standardOutput),
                           std::move(spawned->pipes.standardError));
}

void BackendSupervisor::watch(std::weak_ptr<BackendSupervisor> weakSelf,
                              std::shared_ptr<ChildProcess> process,
                              std::shared_ptr<WatchState> state, UniqueFd standardOutput,
                              UniqueFd standardError) {
    pthread_setname_np(pthread_self(), "backend-io");
    auto deliver = [&weakSelf](StreamKind kind, std::string_view chunk) {
        if (auto self = weakSelf.lock()) {
            self->consume(kind, chunk);
        }
    };
    struct Stream {
        StreamKind kind;
        UniqueFd descriptor;
    };
    Stream streams[] = {{StreamKind::standardOutput, std::move(standardOutput)},
                        {StreamKind::standardError, std::move(standardError)}};
    char buffer[65536];

    // Reads one chunk; at the end of the stream the buffer is flushed and the pipe closed.
    auto readOnce = [&](Stream& stream) {
        const ssize_t count = ::read(stream.descriptor.get(), buffer, sizeof buffer);
        if (count > 0) {
            deliver(stream.kind, std::string_view(buffer, static_cast<size_t>(count)));
            return true;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            return false;
        }
        deliver(stream.kind, {});
        stream.descriptor.reset();
        return false;
    };

    while (true) {
        pollfd descriptors[3] = {
            {streams[0].descriptor.get(), POLLIN, 0},
            {streams[1].descriptor.get(), POLLIN, 0},
            {process->exitDescriptor(), POLLIN, 0},
        };
        if (::poll(descriptors, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int index = 0; index < 2; ++index) {
            if (streams[index].descriptor && descriptors[index].revents != 0) {
                readOnce(streams[index]);
            }
        }
        if (descriptors[2].revents != 0) {
            break;
        }
    }

    const auto exit = process->reap();
    state->markChildGone();
    // What the child printed last is still in the pipes; nothing more is read after this.
    for (auto& stream : streams) {
        while (stream.descriptor && readOnce(stream)) {
        }
        if (stream.descriptor) {
            deliver(stream.kind, {});
            stream.descriptor.reset();
        }
    }
    if (auto self = weakSelf.lock()) {
        self->handleTermination(exit);
    }
}

void BackendSupervisor::scheduleStartupTimeout() {
    auto item = controlQueue_.asyncAfter(
        std::chrono::duration_cast<SerialQueue::Clock::duration>(timeouts_.startup),
        [weakSelf = weak_from_this(), seconds = timeouts_.startup.count()] {
            if (auto self = weakSelf.lock()) {
                self->finishStartup(
                    std::unexpected(BackendSupervisorError::startupTimeout(seconds)));
            }
        });
    std::lock_guard lock(mutex_);
    startupTimeoutWorkItem_.cancel();
    startupTimeoutWorkItem_ = item;
}

void BackendSupervisor::finishStartup(std::expected<std::string, BackendStartError> outcome) {
    StartCompletion completion;
    {
        std::lock_guard lock(mutex_);
        startupTimeoutWorkItem_.cancel();
        startupTimeoutWorkItem_ = {};
        completion = std::move(startupContinuation_);
        startupContinuation_ = nullptr;
    }
    if (completion) {
        relay_.complete(std::move(completion), std::move(outcome));
    }
}

void BackendSupervisor::consume(StreamKind kind, std::string_view chunk) {
    std::expected<std::vector<std::string>, DesktopProtocolError> lines;
    {
        std::lock_guard lock(mutex_);
        auto& buffer = kind == StreamKind::standardOutput ? stdoutBuffer_ : stderrBuffer_;
        lines = chunk.empty() ? buffer.finish() : buffer.append(chunk);
    }
    if (!lines) {
        reportProtocolFailure(lines.error());
        return;
    }
    for (const auto& line : *lines) {
        handle(kind, line);
    }
}

void BackendSupervisor::handle(StreamKind kind, const std::string& line) {
    if (kind == StreamKind::standardError) {
        log_->write("server:err", line);
        return;
    }
    log_->write("server", line);
    const auto event = DesktopProtocol::parseEvent(line);
    if (!event) {
        reportProtocolFailure(event.error());
        return;
    }
    if (!event->has_value()) {
        return;
    }
    std::visit(
        Overloaded{
            [this](const DesktopEvent::Ready& ready) {
                bool first = false;
                {
                    std::lock_guard lock(mutex_);
                    if (!readyURL_) {
                        readyURL_ = ready.url;
                        first = true;
                    }
                }
                if (first) {
                    finishStartup(ready.url);
                }
            },
            [this](const DesktopEvent::ClickerListener& listener) {
                relay_.deliver(&BackendSupervisorCallbacks::onClickerListenerChange,
                               listener.enabled);
            },
            [this](const ClickerDistributorState& state) {
                relay_.deliver(&BackendSupervisorCallbacks::onClickerDistributorStateChange, state);
            },
            [this](const ClickerDistributorUpdateResult& result) { handleUpdateResult(result); },
            [](const DesktopEvent::Unknown&) {},
        },
        **event);
}

void BackendSupervisor::reportProtocolFailure(const DesktopProtocolError& error) {
    bool report = false;
    bool ready = false;
    {
        std::lock_guard lock(mutex_);
        if (!fatalProtocolReported_) {
            fatalProtocolReported_ = true;
            report = true;
            ready = readyURL_.has_value();
        }
    }
    if (report && ready) {
        relay_.deliver(&BackendSupervisorCallbacks::onFatalProtocol, error);
        return;
    }
    // Before readiness the failure becomes start's error; later repeats find start completed.
    finishStartup(std::unexpected(error));
}

void BackendSupervisor::handleTermination(ChildProcess::Exit exit) {
    bool stopping = false;
    bool ready = false;
    {
        std::lock_guard lock(mutex_);
        exited_ = true;
        recordedExitCode_ = exit.signalled ? std::nullopt : std::optional<int32_t>(exit.status);
        stopping = stopping_;
        ready = readyURL_.has_value();
    }
    log_->write("shell", "Backend exited with code " + std::to_string(exit.status) + ".");
    if (!ready) {
        finishStartup(std::unexpected(BackendSupervisorError::earlyExit(exit.status)));
    } else if (!stopping) {
        relay_.deliver(&BackendSupervisorCallbacks::onUnexpectedExit, exit.status);
    }
    controlQueue_.async([weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) {
            self->childGone();
        }
    });
}

void BackendSupervisor::sendClickerKey(ClickerDirection direction) {
    inputWriteQueue_.async([weakSelf = weak_from_this(),
                            line = DesktopProtocol::clickerKeyCommand(rawValue(direction))] {
        if (auto self = weakSelf.lock()) {
            self->writeCommand(line);
        }
    });
}

void BackendSupervisor::sendClickerAction(ClickerCustomAction action) {
    inputWriteQueue_.async([weakSelf = weak_from_this(),
                            line = DesktopProtocol::clickerActionCommand(rawValue(action))] {
        if (auto self = weakSelf.lock()) {
            self->writeCommand(line);
        }
    });
}

bool BackendSupervisor::writeCommand(const std::string& bytes) {
    std::shared_ptr<UniqueFd> input;
    {
        std::lock_guard lock(mutex_);
        if (!readyURL_ || stopping_ || exited_ || !standardInputIsNonBlocking_ || !standardInput_) {
            return false;
        }
        // Held while writing, so a concurrent close cannot hand the number to another file.
        input = standardInput_;
    }
    const ssize_t written = ::write(input->get(), bytes.data(), bytes.size());
    if (written == static_cast<ssize_t>(bytes.size())) {
        return true;
    }
    logClickerWriteFailureOnce(written < 0 ? errno : 0);
    return false;
}

void BackendSupervisor::logClickerWriteFailureOnce(int errorNumber) {
    {
        std::lock_guard lock(mutex_);
        if (clickerWriteFailureLogged_) {
            return;
        }
        clickerWriteFailureLogged_ = true;
    }
    const std::string reason = errorNumber == EAGAIN ? "backend stdin is backpressured"
                                                     : "backend stdin is unavailable (errno " +
                                                           std::to_string(errorNumber) + ")";
    log_->write("shell", "Dropped Clicker Distributor input because " + reason +
                             ". Further drops will not be logged.");
}

void BackendSupervisor::setClickerDistributorEnabled(bool enabled, UpdateCompletion completion) {
    const std::string requestId = Uuid::generate().string();
    auto command = DesktopProtocol::setClickerDistributorEnabledCommand(enabled, requestId);
    if (!command) {
        relay_.complete(std::move(completion),
                        std::expected<bool, BackendSupervisorError>(std::unexpected(
                            BackendSupervisorError::Kind::invalidClickerDistributorCommand)));
        return;
    }
    {
        std::lock_guard lock(mutex_);
        pendingClickerUpdates_[requestId] = std::move(completion);
    }
    inputWriteQueue_.async([weakSelf = weak_from_this(), requestId, line = std::move(*command)] {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (!self->writeCommand(line)) {
            self->finishClickerUpdate(
                requestId, std::unexpected(BackendSupervisorError::Kind::backendUnavailable));
            return;
        }
        self->controlQueue_.asyncAfter(
            std::chrono::duration_cast<SerialQueue::Clock::duration>(self->timeouts_.clickerUpdate),
            [weakSelf, requestId] {
                if (auto owner = weakSelf.lock()) {
                    owner->finishClickerUpdate(
                        requestId,
                        std::unexpected(
                            BackendSupervisorError::Kind::clickerDistributorUpdateTimeout));
                }
            });
    });
}

void BackendSupervisor::handleUpdateResult(const ClickerDistributorUpdateResult& result) {
    relay_.deliver(&BackendSupervisorCallbacks::onClickerDistributorUpdateResult, result);
    if (result.ok) {
        finishClickerUpdate(result.requestId, result.enabled);
    } else {
        finishClickerUpdate(result.requestId,
                            std::unexpected(BackendSupervisorError::clickerDistributorUpdateFailed(
                                result.error.value_or("The setting could not be saved."))));
    }
}

void BackendSupervisor::finishClickerUpdate(const std::string& requestId,
                                            std::expected<bool, BackendSupervisorError> result) {
    UpdateCompletion completion;
    {
        std::lock_guard lock(mutex_);
        const auto found = pendingClickerUpdates_.find(requestId);
        if (found == pendingClickerUpdates_.end()) {
            return;
        }
        completion = std::move(found->second);
        pendingClickerUpdates_.erase(found);
    }
    relay_.complete(std::move(completion), std::move(result));
}

void BackendSupervisor::stop(std::function<void()> completion) {
    auto onMainThread = [mainThread = mainThread_, completion = std::move(completion)] {
        mainThread->post(completion);
    };
    controlQueue_.async([self = shared_from_this(), onMainThread]() mutable {
        self->beginStop(std::move(onMainThread));
    });
}

// Everything below runs on the control queue, which alone touches the stop phase.
void BackendSupervisor::beginStop(std::function<void()> completion) {
    bool alreadyStopping = false;
    bool exited = false;
    bool launched = false;
    std::shared_ptr<UniqueFd> input;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        alreadyStopping = stopStarted_;
        stopStarted_ = true;
        launched = process_ != nullptr;
        exited = exited_;
        input = standardInput_;
    }
    if (!launched || (alreadyStopping && exited)) {
        completion();
        return;
    }
    if (alreadyStopping) {
        const uint64_t waiter = nextStopWaiter_++;
        stopWaiters_[waiter] = std::move(completion);
        controlQueue_.asyncAfter(
            std::chrono::duration_cast<SerialQueue::Clock::duration>(timeouts_.concurrentStop),
            [weakSelf = weak_from_this(), waiter] {
                if (auto self = weakSelf.lock()) {
                    self->releaseStopWaiter(waiter);
                }
            });
        return;
    }
    stopCompletions_.push_back(std::move(completion));
    if (exited) {
        finishStop();
        return;
    }
    stopPhase_ = StopPhase::awaitingShutdown;
    // The shutdown command does not wait for readiness: a backend still starting gets it too.
    if (input && !writeAllNow(input->get(), DesktopProtocol::kShutdownCommand)) {
        log_->write("shell",
                    std::string("Graceful backend shutdown failed: ") + std::strerror(errno));
        escalateStop(StopPhase::awaitingShutdown);
        return;
    }
    scheduleStopDeadline(timeouts_.shutdown, StopPhase::awaitingShutdown);
}

void BackendSupervisor::scheduleStopDeadline(Seconds delay, StopPhase phase) {
    stopDeadline_ =
        controlQueue_.asyncAfter(std::chrono::duration_cast<SerialQueue::Clock::duration>(delay),
                                 [weakSelf = weak_from_this(), phase] {
                                     if (auto self = weakSelf.lock()) {
                                         self->escalateStop(phase);
                                     }
                                 });
}

void BackendSupervisor::escalateStop(StopPhase phase) {
    if (stopPhase_ != phase) {
        return;
    }
    std::shared_ptr<ChildProcess> process;
    {
        std::lock_guard lock(mutex_);
        if (exited_) {
            process = nullptr;
        } else {
            process = process_;
        }
    }
    if (!process || phase == StopPhase::awaitingKill) {
        finishStop();
        return;
    }
    if (phase == StopPhase::awaitingShutdown) {
        log_->write("shell", "Backend ignored graceful shutdown; sending SIGTERM.");
        process->signalGroup(SIGTERM);
        stopPhase_ = StopPhase::awaitingTerminate;
        scheduleStopDeadline(timeouts_.terminate, StopPhase::awaitingTerminate);
    } else {
        log_->write("shell", "Backend ignored SIGTERM; sending SIGKILL.");
        process->signalGroup(SIGKILL);
        stopPhase_ = StopPhase::awaitingKill;
        scheduleStopDeadline(timeouts_.kill, StopPhase::awaitingKill);
    }
}

void BackendSupervisor::childGone() {
    auto waiters = std::move(stopWaiters_);
    stopWaiters_.clear();
    for (auto& [id, waiter] : waiters) {
        waiter();
    }
    if (stopPhase_ != StopPhase::idle && stopPhase_ != StopPhase::finished) {
        finishStop();
    }
}

void BackendSupervisor::releaseStopWaiter(uint64_t waiter) {
    const auto found = stopWaiters_.find(waiter);
    if (found == stopWaiters_.end()) {
        return;
    }
    auto completion = std::move(found->second);
    stopWaiters_.erase(found);
    completion();
}

void BackendSupervisor::finishStop() {
    stopDeadline_.cancel();
    stopPhase_ = StopPhase::finished;
    closePipes();
    auto completions = std::move(stopCompletions_);
    stopCompletions_.clear();
    for (auto& completion : completions) {
        completion();
    }
}

void BackendSupervisor::closePipes() {
    std::shared_ptr<UniqueFd> input;
    {
        std::lock_guard lock(mutex_);
        input = std::move(standardInput_);
        standardInput_ = nullptr;
        standardInputIsNonBlocking_ = false;
    }
    // The output pipes belong to the watcher, which closes them once the child has gone.
}

}  // namespace kelvra

namespace kelvra {

BackendSupervisorFactory makeBackendSupervisorFactory(
    BackendLaunchInfo launchInfo, std::shared_ptr<LogSink> log,
    std::shared_ptr<MainThreadExecutor> mainThread, BackendSupervisorTimeouts timeouts) {
    return [launchInfo = std::move(launchInfo), log = std::move(log),
            mainThread = std::move(mainThread), timeouts](
               std::optional<BackendServerBinding> binding) -> std::shared_ptr<BackendSupervising> {
        return BackendSupervisor::create(launchInfo, log, std::move(binding), mainThread, timeouts);
    };
}

}  // namespace kelvra
