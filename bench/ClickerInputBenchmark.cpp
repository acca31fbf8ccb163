// SPDX-License-Identifier: MIT
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
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
#include "tray/ClickerInputRouter.h"

namespace {

using Clock = std::chrono::steady_clock;

// Allocations made by any thread but the one measuring; the key path runs on the others.
std::atomic<uint64_t> allocationsElsewhere{0};
thread_local bool measuringThread = false;

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

// Paced as a person presses: an XTEST press of Page Down every 50 ms, each through the X11 tap
// and the key routing of the tray controller to the "clicker-key" line read by a real node
// child standing in for the backend, timed until that child acknowledges it. The idle gaps let
// every thread on the path fall asleep, so each press pays for the threads it wakes. Counts the
// allocations the key path makes between a press and its acknowledgement.
void BM_X11PressToBackend(benchmark::State& state) {
    const auto mainThread = std::make_shared<kelvra::ManualMainThreadExecutor>();
    const auto workingDirectory =
        std::filesystem::temp_directory_path() / ("kelvra-key-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(workingDirectory);
    const auto fifo = workingDirectory / "acknowledged";
    ::mkfifo(fifo.c_str(), 0600);
    // Opened before the child, which then opens its end without waiting.
    const kelvra::UniqueFd acknowledged(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    const auto supervisor = kelvra::BackendSupervisor::create(
        {KELVRA_BENCH_NODE,
         std::filesystem::path(KELVRA_BENCH_SOURCE_DIR) / "bench/key-acknowledger.js",
         workingDirectory, false},
        std::make_shared<NoLog>(), std::nullopt, mainThread, mainThread);
    std::optional<bool> ready;
    supervisor->start([&ready](auto outcome) { ready = outcome.has_value(); });
    mainThread->runUntil([&ready] { return ready.has_value(); }, std::chrono::minutes(1));
    kelvra::ClickerInputRouter router(mainThread, [](kelvra::ClickerDirection) {});
    router.setBackend(supervisor);
    const auto acknowledgedWithin = [&acknowledged](std::chrono::milliseconds limit) {
        pollfd readable{acknowledged.get(), POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(limit.count())) != 1) {
            return false;
        }
        char buffer[64];
        while (::read(acknowledged.get(), buffer, sizeof buffer) > 0) {
        }
        return true;
    };
    std::optional<X11PressRig> rig;
    if (ready == true) {
        rig.emplace([&router](const kelvra::ClickerCapturedInput& input) { router.route(input); });
    }
    const bool grabbed = rig && !rig->unusable() && rig->pressUntilGrabbed(acknowledgedWithin);
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    uint64_t allocations = 0;
    measuringThread = true;
    for (auto _ : state) {
        if (!grabbed) {
            state.SkipWithError(ready != true     ? "the stand-in backend did not start"
                                : rig->unusable() ? rig->unusable()
                                                  : "the tap took no grab");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const uint64_t allocatedBefore = allocationsElsewhere.load();
        const auto start = Clock::now();
        rig->press();
        if (!acknowledgedWithin(std::chrono::seconds(5))) {
            state.SkipWithError("a press did not reach the backend");
            break;
        }
        samples.push_back(nanosecondsSince(start));
        allocations += allocationsElsewhere.load() - allocatedBefore;
    }
    measuringThread = false;
    reportPercentiles(state, samples);
    if (!samples.empty()) {
        state.counters["allocations_per_key"] =
            static_cast<double>(allocations) / static_cast<double>(samples.size());
    }
    rig.reset();
    router.setBackend(nullptr);
    bool stopped = false;
    supervisor->stop([&stopped] { stopped = true; });
    mainThread->runUntil([&stopped] { return stopped; }, std::chrono::minutes(1));
    std::filesystem::remove_all(workingDirectory);
}
BENCHMARK(BM_X11PressToBackend)->UseRealTime()->Iterations(300);

}  // namespace

// Counts every allocation of the benchmark binary; libstdc++'s other forms of `new` (arrays,
// nothrow) come here too, and its `delete` frees with `free`.
void* operator new(std::size_t size) {
    if (!measuringThread) {
        allocationsElsewhere.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
