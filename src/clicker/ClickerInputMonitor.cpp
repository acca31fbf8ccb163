// SPDX-License-Identifier: MIT
#include "clicker/ClickerInputMonitor.h"

#include <algorithm>
#include <cerrno>
#include <pthread.h>
#include <sys/eventfd.h>
#include <utility>

#include "core/Error.h"

namespace kelvra {
namespace {

constexpr std::string_view kCouldNotCreate =
    "Clicker Distributor could not create its active keyboard event tap. Keyboard access may be "
    "unavailable.";
constexpr std::string_view kListening =
    "Clicker Distributor assigned-key consuming listener is active.";
constexpr std::string_view kDisabledBySystem =
    "Clicker Distributor active keyboard event tap was disabled by the system.";

}  // namespace

std::shared_ptr<ClickerInputMonitor> ClickerInputMonitor::create(
    std::shared_ptr<LogSink> log, std::shared_ptr<MainThreadExecutor> mainThread,
    KeyboardTapOpener openTap, std::function<void(ClickerCapturedInput)> onInput,
    ClickerInputMonitorReports reports, const ClickerInputConfiguration& configuration) {
    return std::shared_ptr<ClickerInputMonitor>(
        new ClickerInputMonitor(std::move(log), std::move(mainThread), std::move(openTap),
                                std::move(onInput), std::move(reports), configuration));
}

ClickerInputMonitor::ClickerInputMonitor(std::shared_ptr<LogSink> log,
                                         std::shared_ptr<MainThreadExecutor> mainThread,
                                         KeyboardTapOpener openTap,
                                         std::function<void(ClickerCapturedInput)> onInput,
                                         ClickerInputMonitorReports reports,
                                         const ClickerInputConfiguration& configuration)
    : log_(std::move(log)),
      mainThread_(std::move(mainThread)),
      openTap_(std::move(openTap)),
      onInput_(std::move(onInput)),
      reports_(std::move(reports)),
      engine_(std::make_shared<const ClickerInputConfiguration>(configuration)),
      configuration_(std::make_shared<const ClickerInputConfiguration>(configuration)),
      tapConfiguration_(tapConfiguration(configuration, false)) {}

ClickerInputMonitor::~ClickerInputMonitor() {
    // The thread holds the monitor while it runs, so it has ended or is ending here; when the
    // thread itself let go last, it cannot wait for itself.
    if (tapThread_.joinable()) {
        if (tapThread_.get_id() == std::this_thread::get_id()) {
            tapThread_.detach();
        } else {
            tapThread_.join();
        }
    }
}

std::shared_ptr<const KeyboardTapConfiguration> ClickerInputMonitor::tapConfiguration(
    const ClickerInputConfiguration& configuration, bool recording) {
    auto tap = std::make_shared<KeyboardTapConfiguration>();
    tap->recording = recording;
    tap->assignedKeystrokes = {configuration.previous, configuration.next};
    for (const auto& assignment : configuration.customAssignments) {
        if (assignment.keystroke && assignment.action) {
            tap->assignedKeystrokes.push_back(*assignment.keystroke);
        }
    }
    return tap;
}

void ClickerInputMonitor::start(std::shared_ptr<ClickerInputMonitoring> predecessor) {
    std::thread finished;
    int stopError = 0;
    {
        std::lock_guard lock(stateLock_);
        if (started_) {
            return;
        }
        stopDescriptor_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        stopError = stopDescriptor_ ? 0 : errno;
        // A thread without a stop descriptor could never be stopped, nor its owner join it.
        started_ = stopError == 0;
        stopping_ = false;
        delivering_ = started_;
        failedBySystem_ = false;
        finished = std::move(tapThread_);
    }
    if (finished.joinable()) {
        finished.join();  // a previous run's thread, already past its last use of the monitor
    }
    report(ClickerInputListenerState::starting);
    if (stopError != 0) {
        log_->write(kLogCategory, "Clicker Distributor keyboard tap: no stop descriptor: " +
                                      errorText(stopError));
        log_->write(kLogCategory, kCouldNotCreate);
        report(ClickerInputListenerState::failed);
        if (predecessor) {
            predecessor->join();  // no thread of ours to wait for it; it was told to stop
        }
        return;
    }

    std::lock_guard lock(stateLock_);
    tapThread_ = std::thread([self = shared_from_this(), stopDescriptor = stopDescriptor_.get(),
                              predecessor = std::move(predecessor)]() mutable {
        // Linux thread names hold 15 bytes.
        pthread_setname_np(pthread_self(), "clicker-tap");
        // Also when stopped already: whoever joins this thread then knows both have ended.
        if (predecessor) {
            predecessor->join();
            predecessor.reset();
        }
        self->runTap(stopDescriptor);
    });
}

void ClickerInputMonitor::stop() {
    int stopDescriptor = -1;
    {
        std::lock_guard lock(stateLock_);
        if (!started_ || stopping_) {
            return;
        }
        stopping_ = true;
        delivering_ = false;
        stopDescriptor = stopDescriptor_.get();
    }
    // The descriptor stays readable, so the thread sees the stop wherever it is.
    if (stopDescriptor >= 0) {
        ::eventfd_write(stopDescriptor, 1);
    }
    report(ClickerInputListenerState::stopped);
}

void ClickerInputMonitor::join() {
    std::thread thread;
    {
        std::lock_guard lock(stateLock_);
        if (!tapThread_.joinable() || tapThread_.get_id() == std::this_thread::get_id()) {
            return;
        }
        thread = std::move(tapThread_);
    }
    thread.join();
}

void ClickerInputMonitor::setConfiguration(const ClickerInputConfiguration& configuration) {
    auto shared = std::make_shared<const ClickerInputConfiguration>(configuration);
    std::shared_ptr<const KeyboardTapConfiguration> tap;
    {
        std::lock_guard lock(stateLock_);
        configuration_ = shared;
        tap = tapConfiguration(configuration, recordingRequired_);
    }
    engine_.setConfiguration(std::move(shared));
    replaceTapConfiguration(std::move(tap));
}

void ClickerInputMonitor::setRecordingRequired(bool recordingRequired) {
    std::shared_ptr<const KeyboardTapConfiguration> tap;
    {
        std::lock_guard lock(stateLock_);
        recordingRequired_ = recordingRequired;
        tap = tapConfiguration(*configuration_, recordingRequired);
    }
    engine_.setRecording(recordingRequired);
    replaceTapConfiguration(std::move(tap));
}

void ClickerInputMonitor::replaceTapConfiguration(
    std::shared_ptr<const KeyboardTapConfiguration> configuration) {
    std::shared_ptr<KeyboardTapBackend> backend;
    {
        std::lock_guard lock(stateLock_);
        tapConfiguration_ = configuration;
        backend = backend_;
    }
    if (backend) {
        backend->setConfiguration(std::move(configuration));
    }
}

void ClickerInputMonitor::configureTap(KeyboardTapBackend& backend) {
    // The main thread may replace the configuration meanwhile and hand it to the backend too;
    // repeating until nothing changed leaves the newest one applied last.
    std::shared_ptr<const KeyboardTapConfiguration> applied;
    while (true) {
        std::shared_ptr<const KeyboardTapConfiguration> current;
        {
            std::lock_guard lock(stateLock_);
            current = tapConfiguration_;
        }
        if (current == applied) {
            return;
        }
        backend.setConfiguration(current);
        applied = std::move(current);
    }
}

void ClickerInputMonitor::runTap(int stopDescriptor) {
    {
        std::lock_guard lock(stateLock_);
        if (stopping_) {
            started_ = stopping_ = delivering_ = false;
            return;  // the stop already reported `stopped`
        }
    }
    engine_.clearHeldKeys();
    auto opened = openTap_();
    if (!opened) {
        log_->write(kLogCategory, "Clicker Distributor keyboard tap: " + opened.error().message);
        log_->write(kLogCategory, kCouldNotCreate);
        finishRun(ClickerInputListenerState::failed);
        return;
    }
    std::shared_ptr<KeyboardTapBackend> backend = std::move(*opened);
    {
        std::lock_guard lock(stateLock_);
        backend_ = backend;
    }
    configureTap(*backend);
    bool stopped = false;
    {
        std::lock_guard lock(stateLock_);
        stopped = stopping_;
        if (stopped) {
            backend_.reset();
        }
    }
    if (stopped) {
        backend.reset();
        finishRun(ClickerInputListenerState::stopped);
        return;
    }
    report(ClickerInputListenerState::listening);
    log_->write(kLogCategory, kListening);

    const auto outcome = backend->run(stopDescriptor, *this);

    bool failed = false;
    {
        std::lock_guard lock(stateLock_);
        if (outcome == KeyboardTapRunOutcome::sourceLost && !stopping_) {
            failedBySystem_ = true;
            stopping_ = true;
            delivering_ = false;
        }
        failed = failedBySystem_;
        backend_.reset();
    }
    if (outcome == KeyboardTapRunOutcome::sourceLost && failed) {
        log_->write(kLogCategory, kDisabledBySystem);
    }
    backend.reset();  // releases the tap's files before the state says so
    finishRun(failed ? ClickerInputListenerState::failed : ClickerInputListenerState::stopped);
}

void ClickerInputMonitor::finishRun(ClickerInputListenerState state) {
    {
        std::lock_guard lock(stateLock_);
        started_ = false;
        stopping_ = false;
        delivering_ = false;
    }
    engine_.clearHeldKeys();
    report(state);
}

KeyboardTapDecision ClickerInputMonitor::decide(const KeyboardTapEvent& event) {
    const auto decision = engine_.decide(event);
    if (decision.input && delivering_.load()) {
        onInput_(*decision.input);
    }
    return decision.tap;
}

void ClickerInputMonitor::forgetDevice(uint32_t device) {
    engine_.forgetDevice(device);
}

void ClickerInputMonitor::reportConflicts(std::vector<ClickerKeystroke> keystrokes) {
    std::vector<ClickerKeystroke> newlyLogged;
    {
        std::lock_guard lock(stateLock_);
        for (const auto& keystroke : keystrokes) {
            if (std::find(loggedConflicts_.begin(), loggedConflicts_.end(), keystroke) ==
                loggedConflicts_.end()) {
                loggedConflicts_.push_back(keystroke);
                newlyLogged.push_back(keystroke);
            }
        }
    }
    for (const auto& keystroke : newlyLogged) {
        log_->write(kLogCategory, "Clicker Distributor could not reserve " +
                                      keystroke.displayName() +
                                      ": another program has already grabbed it.");
    }
    mainThread_->post([weak = weak_from_this(), keystrokes = std::move(keystrokes)]() mutable {
        if (const auto self = weak.lock(); self && self->reports_.onConflicts) {
            self->reports_.onConflicts(std::move(keystrokes));
        }
    });
}

void ClickerInputMonitor::report(ClickerInputListenerState state) {
    mainThread_->post([weak = weak_from_this(), state] {
        if (const auto self = weak.lock(); self && self->reports_.onState) {
            self->reports_.onState(state);
        }
    });
}

}  // namespace kelvra
