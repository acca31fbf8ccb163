// SPDX-License-Identifier: MIT
#include "app/QtMainThreadExecutor.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

namespace kelvra {
namespace {

class SocketNotifierWatch final : public DescriptorWatching::Watch {
public:
    explicit SocketNotifierWatch(int descriptor) : notifier(descriptor, QSocketNotifier::Read) {}

    QSocketNotifier notifier;
};

}  // namespace

QtMainThreadExecutor::QtMainThreadExecutor() {
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     QCoreApplication::instance(), [state = state_] {
                         std::unique_lock lock(state->mutex);
                         state->ended = true;
                     });
}

void QtMainThreadExecutor::post(std::function<void()> work) {
    std::shared_lock lock(state_->mutex);
    if (state_->ended) {
        return;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [state = state_, work = std::move(work)] {
            if (!state->hasEnded()) {
                work();
            }
        },
        Qt::QueuedConnection);
}

CancellableWork QtMainThreadExecutor::postDelayed(Duration delay, std::function<void()> work) {
    // The timer, once started; touched on the main thread only.
    const auto timer = std::make_shared<QPointer<QTimer>>();
    // A cancelled timer is disarmed, so that an idle application does not wake for it.
    const auto handle = CancellableWork::create([state = state_, timer] {
        if (state->hasEnded()) {
            return;  // timers go with the application
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [timer] {
                if (*timer) {
                    (*timer)->stop();
                    (*timer)->deleteLater();
                }
            },
            Qt::QueuedConnection);
    });
    // A timer belongs to the thread that starts it, so timers are started on the main thread.
    // Precise timers keep work that is due at the same time in posting order.
    const auto milliseconds =
        std::max(std::chrono::ceil<std::chrono::milliseconds>(delay), std::chrono::milliseconds(0));
    auto startTimer = [state = state_, handle, timer, milliseconds,
                       work = std::move(work)]() mutable {
        if (handle.isCancelled()) {
            return;
        }
        auto* started = new QTimer(QCoreApplication::instance());
        started->setSingleShot(true);
        started->setTimerType(Qt::PreciseTimer);
        QObject::connect(started, &QTimer::timeout, started,
                         [state, handle, started, work = std::move(work)] {
                             started->deleteLater();
                             if (!handle.isCancelled() && !state->hasEnded()) {
                                 work();
                             }
                         });
        started->start(static_cast<int>(milliseconds.count()));
        *timer = started;
    };
    if (isMainThread()) {
        if (!state_->hasEnded()) {
            startTimer();
        }
    } else {
        post(std::move(startTimer));
    }
    return handle;
}

bool QtMainThreadExecutor::isMainThread() const {
    return std::this_thread::get_id() == state_->mainThread;
}

// Socket notifiers are served by nested event loops too, such as a modal alert's `exec()`, so a
// watched descriptor (the backend's output) is still read while an alert waits for the user.
// Qt allows a notifier to be deleted from its own activation, so a callback may end its watch.
std::unique_ptr<DescriptorWatching::Watch> QtMainThreadExecutor::watchReadable(
    int descriptor, std::function<void()> readable) {
    auto watch = std::make_unique<SocketNotifierWatch>(descriptor);
    QObject::connect(&watch->notifier, &QSocketNotifier::activated, &watch->notifier,
                     [state = state_, readable = std::move(readable)] {
                         if (!state->hasEnded()) {
                             readable();
                         }
                     });
    return watch;
}

void QtMainThreadExecutor::end() {
    std::unique_lock lock(state_->mutex);
    state_->ended = true;
}

bool QtMainThreadExecutor::State::hasEnded() {
    std::shared_lock lock(mutex);
    return ended;
}

}  // namespace kelvra
