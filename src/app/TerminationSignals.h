// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

#include <QObject>

#include "core/UniqueFd.h"

class QSocketNotifier;

namespace kelvra {

/// Turns SIGTERM, SIGINT and SIGHUP (logout, `kill`, Ctrl+C) into calls on the main thread
/// through a self-pipe, so that the application can stop its backend gracefully instead of
/// dying with it running. One instance per process; it restores the default actions when it
/// goes.
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    /// `onSignal` runs on the main thread with the signal number, once per delivered signal.
    explicit TerminationSignals(std::function<void(int)> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    void drain();

    std::function<void(int)> onSignal_;
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kelvra
