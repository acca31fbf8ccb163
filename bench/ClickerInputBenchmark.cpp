// SPDX-License-Identifier: MIT
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "backend/BackendSupervisor.h"
#include "clicker/ClickerInputMonitor.h"
#include "clicker/ClickerKeyDecisionEngine.h"
#include "clicker/KeyboardTapChoice.h"
#include "clicker/linux/X11KeyboardTap.h"
#include "support/ManualMainThreadExecutor.h"

namespace {

using Clock = std::chrono::steady_clock;

struct NoLog final : kelvra::LogSink {
    void write(std::string_view, std::string_view) override {}
};

// Percentiles of single measurements, as counters in nanoseconds.
void reportPercentiles(benchmark::State& state, std::vector<double>& samples) {
    if (samples.empty()) {
        return;
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double fraction) {
        return samples[std::min(samples.size() - 1,
                                static_cast<size_t>(fraction * samples.size()))];
    };
    state.counters["p50_ns"] = at(0.50);
    state.counters["p99_ns"] = at(0.99);
    state.counters["max_ns"] = samples.back();
}

double nanosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

// Every key event of the session goes through this: a mix of assigned and unassigned keys,
// each timed alone (the clock's own cost, some 20 ns, is included).
void BM_ClickerKeyDecision(benchmark::State& state) {
    kelvra::ClickerKeyDecisionEngine engine;
    const kelvra::KeyboardTapEvent events[] = {
        {1, kelvra::ClickerKeyCode::pageDown, kelvra::KeyTransition::down, 0},
        {1, kelvra::ClickerKeyCode::pageDown, kelvra::KeyTransition::up, 0},
        {2, 0, kelvra::KeyTransition::down, kelvra::ClickerModifierFlags::shift},
        {2, 0, kelvra::KeyTransition::repeat, kelvra::ClickerModifierFlags::shift},
        {2, 0, kelvra::KeyTransition::up, 0},
    };
    std::vector<double> samples;
    samples.reserve(1 << 20);
    size_t index = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(engine.decide(events[index]));
        if (samples.size() < samples.capacity()) {
            samples.push_back(nanosecondsSince(start));
        }
        index = (index + 1) % std::size(events);
    }
    reportPercentiles(state, samples);
}
BENCHMARK(BM_ClickerKeyDecision);

// A keyboard listener on the X11 tap of a real X server, with Page Down assigned, and a way to
// press that key through XTEST. Needs a display: run under xvfb-run -a -s -noreset.
class X11PressRig {
public:
    explicit X11PressRig(std::function<void(kelvra::ClickerCapturedInput)> onInput)
        : connection_(xcb_connect(nullptr, nullptr)) {
        if (std::getenv("DISPLAY") == nullptr || xcb_connection_has_error(connection_) != 0) {
            return;
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const auto environment = kelvra::currentEnvironment();
        monitor_ = kelvra::ClickerInputMonitor::create(
            std::make_shared<NoLog>(), mainThread_,
            [environment] {
                return kelvra::openKeyboardTap(
                    {{}, [environment] { return kelvra::makeX11KeyboardTap(environment); }}, "x11");
            },
            std::move(onInput), {}, kelvra::ClickerInputConfiguration::defaults());
        monitor_->start(nullptr);
    }

    ~X11PressRig() {
        if (monitor_) {
            monitor_->stop();
            monitor_->join();
        }
        xcb_disconnect(connection_);
    }

    /// Why the rig cannot run, or nothing.
    const char* unusable() const { return monitor_ ? nullptr : "needs an X server"; }

    void press() {
        constexpr xcb_keycode_t pageDown = 109 + 8;
        xcb_test_fake_input(connection_, XCB_KEY_PRESS, pageDown, XCB_CURRENT_TIME, root_, 0, 0, 0);
        xcb_test_fake_input(connection_, XCB_KEY_RELEASE, pageDown, XCB_CURRENT_TIME, root_, 0, 0,
                            0);
        xcb_flush(connection_);
    }

    /// Presses until `delivered` says a press came through, which means the grabs are in place.
    bool pressUntilGrabbed(const std::function<bool(std::chrono::milliseconds)>& delivered) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            press();
            if (delivered(std::chrono::milliseconds(100))) {
                return true;
            }
        }
        return false;
    }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    const std::shared_ptr<kelvra::ManualMainThreadExecutor> mainThread_ =
        std::make_shared<kelvra::ManualMainThreadExecutor>();
    std::shared_ptr<kelvra::ClickerInputMonitor> monitor_;
};

// An XTEST press of Page Down to `onInput` on the delivery queue.
void BM_X11TapPressToInput(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable delivered;
    int inputs = 0;
    X11PressRig rig([&](kelvra::ClickerCapturedInput) {
        std::lock_guard lock(mutex);
        ++inputs;
        delivered.notify_all();
    });
    if (const char* reason = rig.unusable()) {
        state.SkipWithError(reason);
        return;
    }
    const auto waitFor = [&](int count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return delivered.wait_for(lock, limit, [&] { return inputs >= count; });
    };
    const bool grabbed = rig.pressUntilGrabbed([&](auto limit) { return waitFor(1, limit); });
    std::vector<double> samples;
    for (auto _ : state) {
        if (!grabbed) {
            state.SkipWithError("the tap took no grab");
            break;
        }
        int expected = 0;
        {
            std::lock_guard lock(mutex);
            expected = inputs + 1;
        }
        const auto start = Clock::now();
        rig.press();
        if (!waitFor(expected, std::chrono::seconds(5))) {
            state.SkipWithError("a press was not delivered");
            break;
        }
        samples.push_back(nanosecondsSince(start));
    }
    reportPercentiles(state, samples);
}
BENCHMARK(BM_X11TapPressToInput)->UseRealTime()->Iterations(2000);

// The whole key path in one process: an XTEST press of Page Down through the X11 tap, the
// delivery queue and `sendClickerKey`, as the status-bar controller routes it, to the
// "clicker-key" line readable on a stand-in backend's standard input.
void BM_X11PressToBackendInput(benchmark::State& state) {
    const auto mainThread = std::make_shared<kelvra::ManualMainThreadExecutor>();
    const std::filesystem::path fixtures =
        std::filesystem::path(KELVRA_BENCH_SOURCE_DIR) / "tests/backend/fixtures";
    const auto supervisor = kelvra::BackendSupervisor::create(
        {"/bin/sh", fixtures / "ready-then-idle.sh", fixtures, false}, std::make_shared<NoLog>(),
        std::nullopt, mainThread, mainThread);
    std::optional<bool> ready;
    supervisor->start([&ready](auto outcome) { ready = outcome.has_value(); });
    mainThread->runUntil([&ready] { return ready.has_value(); }, std::chrono::minutes(1));
    if (ready != true) {
        state.SkipWithError("the stand-in backend did not start");
        return;
    }
    X11PressRig rig([&supervisor](kelvra::ClickerCapturedInput input) {
        if (const auto* direction = std::get_if<kelvra::ClickerDirection>(&input)) {
            supervisor->sendClickerKey(*direction);
        }
    });
    // The stand-in never reads; a second read end opened through /proc takes the bytes out.
    const std::string childInput =
        "/proc/" + std::to_string(*supervisor->processIdentifier()) + "/fd/0";
    const int reader = ::open(childInput.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const auto lineArrives = [reader](std::chrono::milliseconds limit) {
        pollfd readable{reader, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(limit.count())) != 1) {
            return false;
        }
        char buffer[256];
        while (::read(reader, buffer, sizeof buffer) > 0) {
        }
        return true;
    };
    const bool grabbed = rig.unusable() == nullptr && rig.pressUntilGrabbed(lineArrives);
    std::vector<double> samples;
    for (auto _ : state) {
        if (!grabbed) {
            state.SkipWithError(rig.unusable() ? rig.unusable() : "the tap took no grab");
            break;
        }
        const auto start = Clock::now();
        rig.press();
        if (!lineArrives(std::chrono::seconds(5))) {
            state.SkipWithError("a press did not reach the backend");
            break;
        }
        samples.push_back(nanosecondsSince(start));
    }
    reportPercentiles(state, samples);
    ::close(reader);
    bool stopped = false;
    supervisor->stop([&stopped] { stopped = true; });
    mainThread->runUntil([&stopped] { return stopped; }, std::chrono::minutes(1));
}
BENCHMARK(BM_X11PressToBackendInput)->UseRealTime()->Iterations(2000);

}  // namespace
