// SPDX-License-Identifier: MIT
#include "app/TerminationSignals.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace kelvra {
namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The handler may only touch this and async-signal-safe calls.
std::atomic<int> signalPipe{-1};

extern "C" void writeSignalNumber(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a pending request; losing this byte loses nothing.
    [[maybe_unused]] const auto written = ::write(signalPipe.load(), &byte, 1);
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Without the pipe the signals keep their default action: the process ends, and the
        // backend notices its closed standard input and stops on its own.
        return;
    }
    readEnd_.reset(ends[0]);
    writeEnd_.reset(ends[1]);
    signalPipe.store(writeEnd_.get());

    notifier_ = new QSocketNotifier(readEnd_.get(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::drain);

    struct sigaction action {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals() {
    if (!writeEnd_) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
    signalPipe.store(-1);
}

void TerminationSignals::drain() {
    unsigned char bytes[16];
    for (;;) {
        const auto count = ::read(readEnd_.get(), bytes, sizeof bytes);
        if (count <= 0) {
            return;
        }
        for (ssize_t index = 0; index < count; ++index) {
            onSignal_(bytes[index]);
        }
    }
}

}  // namespace kelvra
