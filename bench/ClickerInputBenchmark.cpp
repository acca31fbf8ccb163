// SPDX-License-Identifier: MIT
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "clicker/ClickerInputMonitor.h"
#include "clicker/ClickerKeyDecisionEngine.h"
#include "clicker/KeyboardTapChoice.h"
#include "clicker/linux/X11KeyboardTap.h"
#include "core/ManualMainThreadExecutor.h"

namespace {

using Clock = std::chrono::steady_clock;

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

// An XTEST press of Page Down on a real X server to `onInput` on the delivery queue. Needs a
// display: run under xvfb-run -a -s -noreset.
void BM_X11TapPressToInput(benchmark::State& state) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (std::getenv("DISPLAY") == nullptr || xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        state.SkipWithError("needs an X server");
        return;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    std::mutex mutex;
    std::condition_variable delivered;
    int inputs = 0;
    auto mainThread = std::make_shared<kelvra::ManualMainThreadExecutor>();
    struct NoLog final : kelvra::LogSink {
        void write(std::string_view, std::string_view) override {}
    };
    const auto environment = kelvra::currentEnvironment();
    auto monitor = kelvra::ClickerInputMonitor::create(
        std::make_shared<NoLog>(), mainThread,
        [environment] {
            return kelvra::openKeyboardTap(
                {{}, [environment] { return kelvra::makeX11KeyboardTap(environment); }}, "x11");
        },
        [&](kelvra::ClickerCapturedInput) {
            std::lock_guard lock(mutex);
            ++inputs;
            delivered.notify_all();
        },
        {}, kelvra::ClickerInputConfiguration::defaults());
    monitor->start();

    constexpr xcb_keycode_t pageDown = 109 + 8;
    const auto press = [&] {
        xcb_test_fake_input(connection, XCB_KEY_PRESS, pageDown, XCB_CURRENT_TIME, root, 0, 0, 0);
        xcb_test_fake_input(connection, XCB_KEY_RELEASE, pageDown, XCB_CURRENT_TIME, root, 0, 0, 0);
        xcb_flush(connection);
    };
    const auto waitFor = [&](int count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return delivered.wait_for(lock, limit, [&] { return inputs >= count; });
    };
    // The grabs are in place once a press is delivered.
    bool grabbed = false;
    for (int attempt = 0; attempt < 100 && !grabbed; ++attempt) {
        press();
        grabbed = waitFor(1, std::chrono::milliseconds(100));
    }
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
        press();
        if (!waitFor(expected, std::chrono::seconds(5))) {
            state.SkipWithError("a press was not delivered");
            break;
        }
        samples.push_back(nanosecondsSince(start));
    }
    reportPercentiles(state, samples);
    monitor->stop();
    monitor->join();
    xcb_disconnect(connection);
}
BENCHMARK(BM_X11TapPressToInput)->UseRealTime()->Iterations(2000);

}  // namespace
