// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "clicker/ClickerInputConfiguration.h"

namespace kelvra {

/// The keyboard listener's state as the owner sees it.
enum class ClickerInputListenerState { stopped, starting, listening, failed };

/// What a listener reports to its owner, always on the main thread.
struct ClickerInputMonitorReports {
    std::function<void(ClickerInputListenerState)> onState;
    /// The assigned keystrokes another program holds, so they cannot be reserved; empty once
    /// none is held any more.
    std::function<void(std::vector<ClickerKeystroke>)> onConflicts;
};

/// A system-wide keyboard listener that reserves the assigned keystrokes while it runs.
/// Used from the main thread. Each instance serves one run.
class ClickerInputMonitoring {
public:
    virtual ~ClickerInputMonitoring() = default;

    /// Begins listening on a thread of its own; a second start while started does nothing.
    /// `predecessor`, when given, is a stopped listener that may still hold the keyboards: the
    /// new thread waits for it to end before it takes them, so the caller never waits.
    virtual void start(std::shared_ptr<ClickerInputMonitoring> predecessor) = 0;
    /// Asks the listener to end and reports `stopped`; returns at once. Does nothing unless
    /// started and not already stopping.
    virtual void stop() = 0;
    /// Waits until the listener's thread has released every keyboard and ended. Call after
    /// `stop`, from one thread at a time; unlike the rest, also from a successor's thread.
    virtual void join() = 0;
    /// Takes effect for the next key-down; keys already held keep their earlier decision.
    virtual void setConfiguration(const ClickerInputConfiguration& configuration) = 0;
    /// While true, new key-downs pass through so that a keystroke can be recorded.
    virtual void setRecordingRequired(bool recordingRequired) = 0;
};

}  // namespace kelvra
