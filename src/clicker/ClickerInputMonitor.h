// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "clicker/ClickerInputMonitoring.h"
#include "clicker/ClickerKeyDecisionEngine.h"
#include "clicker/KeyboardTapBackend.h"
#include "core/LogSink.h"
#include "core/MainThreadExecutor.h"
#include "core/UniqueFd.h"

namespace kelvra {

/// Opens the tap a listener runs (see `openKeyboardTap`).
using KeyboardTapOpener =
    std::function<std::expected<std::unique_ptr<KeyboardTapBackend>, KeyboardTapError>()>;

/// The keyboard listener: a tap on a thread of its own whose key events the decision engine
/// decides. Delivered input goes to `onInput` on the tap thread, in key order, while the tap
/// decides the key, so `onInput` must neither block nor allocate (it writes the key to the
/// backend itself). States and conflicts go to the main thread; a report is dropped once the
/// monitor is gone, and input once it is told to stop.
///
/// The stop is level-triggered (an eventfd the tap polls), so a stop landing anywhere in the
/// thread's start-up still ends the run; the thread holds the monitor for its whole run.
class ClickerInputMonitor final : public ClickerInputMonitoring,
                                  public std::enable_shared_from_this<ClickerInputMonitor>,
                                  private KeyboardTapClient {
public:
    static constexpr std::string_view kLogCategory = "shell";

    static std::shared_ptr<ClickerInputMonitor> create(
        std::shared_ptr<LogSink> log, std::shared_ptr<MainThreadExecutor> mainThread,
        KeyboardTapOpener openTap, std::function<void(ClickerCapturedInput)> onInput,
        ClickerInputMonitorReports reports, const ClickerInputConfiguration& configuration);

    /// Joins a thread that is still ending; owners stop the monitor first.
    ~ClickerInputMonitor() override;

    void start(std::shared_ptr<ClickerInputMonitoring> predecessor) override;
    void stop() override;
    void join() override;
    void setConfiguration(const ClickerInputConfiguration& configuration) override;
    void setRecordingRequired(bool recordingRequired) override;

    /// Assigned keystrokes that can match input, as a tap needs them.
    static std::shared_ptr<const KeyboardTapConfiguration> tapConfiguration(
        const ClickerInputConfiguration& configuration, bool recording);

private:
    ClickerInputMonitor(std::shared_ptr<LogSink> log,
                        std::shared_ptr<MainThreadExecutor> mainThread, KeyboardTapOpener openTap,
                        std::function<void(ClickerCapturedInput)> onInput,
                        ClickerInputMonitorReports reports,
                        const ClickerInputConfiguration& configuration);

    KeyboardTapDecision decide(const KeyboardTapEvent& event) override;
    void forgetDevice(uint32_t device) override;
    void reportConflicts(std::vector<ClickerKeystroke> keystrokes) override;

    void runTap(int stopDescriptor);
    void configureTap(KeyboardTapBackend& backend);
    void finishRun(ClickerInputListenerState state);
    void report(ClickerInputListenerState state);
    void replaceTapConfiguration(std::shared_ptr<const KeyboardTapConfiguration> configuration);

    const std::shared_ptr<LogSink> log_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const KeyboardTapOpener openTap_;
    const std::function<void(ClickerCapturedInput)> onInput_;
    const ClickerInputMonitorReports reports_;
    ClickerKeyDecisionEngine engine_;

    std::mutex stateLock_;
    std::shared_ptr<const ClickerInputConfiguration> configuration_;
    bool recordingRequired_ = false;
    std::shared_ptr<const KeyboardTapConfiguration> tapConfiguration_;
    std::shared_ptr<KeyboardTapBackend> backend_;
    UniqueFd stopDescriptor_;
    bool started_ = false;
    bool stopping_ = false;
    bool failedBySystem_ = false;
    // Started and not stopping, for the tap thread to read without the lock.
    std::atomic<bool> delivering_ = false;
    std::thread tapThread_;
    std::vector<ClickerKeystroke> loggedConflicts_;
};

}  // namespace kelvra
