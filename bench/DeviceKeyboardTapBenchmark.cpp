// SPDX-License-Identifier: MIT
// What the device tap adds to a key press: from a frame becoming readable on a keyboard to its
// re-emission on the virtual copy, and to the delivered input of an assigned key. The whole
// listener runs (monitor, tap thread, decision engine); only the devices are
// the fake layer's socket pairs.
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <vector>

#include "FakeInputDevices.h"
#include "clicker/ClickerInputMonitor.h"
#include "clicker/linux/DeviceKeyboardTap.h"
#include "support/ManualMainThreadExecutor.h"

namespace kelvra {
namespace {

using Clock = std::chrono::steady_clock;
using testing::frame;

class NullLog final : public LogSink {
public:
    void write(std::string_view, std::string_view) override {}
};

double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1))];
}

double microsecondsSince(Clock::time_point begun, Clock::time_point ended) {
    return std::chrono::duration<double, std::micro>(ended - begun).count();
}

/// A running listener on the device tap over one fake keyboard, with the default assignments.
class Listener {
public:
    Listener() {
        keyboard = system->add("Bench Keyboard");
        auto log = std::make_shared<NullLog>();
        monitor = ClickerInputMonitor::create(
            log, std::make_shared<ManualMainThreadExecutor>(),
            [this, log]() -> std::expected<std::unique_ptr<KeyboardTapBackend>, KeyboardTapError> {
                auto tap = std::make_unique<DeviceKeyboardTap>(
                    system->makeLayer(), std::make_unique<testing::FakeSessionLock>(), log);
                if (auto opened = tap->open(); !opened) {
                    return std::unexpected(opened.error());
                }
                return tap;
            },
            [this](ClickerCapturedInput) {
                inputAt.store(Clock::now().time_since_epoch().count());
                inputs.fetch_add(1);
                inputs.notify_one();
            },
            {}, ClickerInputConfiguration::defaults());
        monitor->start(nullptr);
        ready = keyboard->waitUntilTaken(true);
    }

    ~Listener() {
        monitor->stop();
        monitor->join();
    }

    std::shared_ptr<testing::FakeInputSystem> system = std::make_shared<testing::FakeInputSystem>();
    std::shared_ptr<testing::FakeKeyboard> keyboard;
    std::shared_ptr<ClickerInputMonitor> monitor;
    std::atomic<Clock::rep> inputAt{0};
    std::atomic<int> inputs{0};
    bool ready = false;
};

// An unassigned key, down and up: from the write of its frame to the copy's frame being read.
void BM_DeviceTapFrameToCopy(benchmark::State& state) {
    Listener listener;
    if (!listener.ready) {
        state.SkipWithError("the keyboard was not taken");
        return;
    }
    std::vector<double> microseconds;
    int value = 1;
    for (auto _ : state) {
        const auto sent = Clock::now();
        listener.keyboard->send(frame({{KEY_A, value}}));
        const auto copied = listener.keyboard->nextCopyFrame();
        microseconds.push_back(microsecondsSince(sent, Clock::now()));
        if (copied.empty()) {
            state.SkipWithError("no frame on the copy");
            return;
        }
        value = 1 - value;
    }
    state.counters["p50_us"] = percentile(microseconds, 0.50);
    state.counters["p99_us"] = percentile(microseconds, 0.99);
}
BENCHMARK(BM_DeviceTapFrameToCopy)->Iterations(5000)->UseRealTime();

// Page Down, assigned to Next: from the write of its key-down frame to `onInput` on the tap
// thread. The key-up is swallowed; an unassigned key read back from the copy shows it
// was handled before the next press.
void BM_DeviceTapFrameToInput(benchmark::State& state) {
    Listener listener;
    if (!listener.ready) {
        state.SkipWithError("the keyboard was not taken");
        return;
    }
    std::vector<double> microseconds;
    int value = 1;
    for (auto _ : state) {
        const int before = listener.inputs.load();
        const auto sent = Clock::now();
        listener.keyboard->send(frame({{KEY_PAGEDOWN, 1}}));
        listener.inputs.wait(before);
        const Clock::time_point delivered{Clock::duration{listener.inputAt.load()}};
        microseconds.push_back(microsecondsSince(sent, delivered));
        listener.keyboard->send(frame({{KEY_PAGEDOWN, 0}, {KEY_A, value}}));
        if (listener.keyboard->nextCopyFrame().empty()) {
            state.SkipWithError("no frame on the copy");
            return;
        }
        value = 1 - value;
    }
    state.counters["p50_us"] = percentile(microseconds, 0.50);
    state.counters["p99_us"] = percentile(microseconds, 0.99);
}
BENCHMARK(BM_DeviceTapFrameToInput)->Iterations(5000)->UseRealTime();

}  // namespace
}  // namespace kelvra
