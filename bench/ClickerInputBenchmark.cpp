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
#include <sys/socket.h>
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

// Presses Page Down through XTEST on a real X server. Needs a display: run under
// xvfb-run -a -s -noreset.
class XTestKeyboard {
public:
    XTestKeyboard() : connection_(xcb_connect(nullptr, nullptr)) {
        if (usable()) {
            root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        }
    }
    ~XTestKeyboard() { xcb_disconnect(connection_); }

    bool usable() const {
        return std::getenv("DISPLAY") != nullptr && xcb_connection_has_error(connection_) == 0;
    }

    void press() {
        xcb_test_fake_input(connection_, XCB_KEY_PRESS, kPageDown, XCB_CURRENT_TIME, root_, 0, 0,
                            0);
        xcb_test_fake_input(connection_, XCB_KEY_RELEASE, kPageDown, XCB_CURRENT_TIME, root_, 0, 0,
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

    static constexpr xcb_keycode_t kPageDown = 109 + 8;

private:
    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
};

// The application's key path: the keyboard listener on the X11 tap, with Page Down assigned,
// and the tray's key routing to the backend.
class ApplicationKeyPath {
public:
    explicit ApplicationKeyPath(const std::shared_ptr<kelvra::BackendSupervisor>& backend)
        : router_(mainThread_, [](kelvra::ClickerDirection) {}) {
        router_.setBackend(backend);
        const auto environment = kelvra::currentEnvironment();
        monitor_ = kelvra::ClickerInputMonitor::create(
            std::make_shared<NoLog>(), mainThread_,
            [environment] {
                return kelvra::openKeyboardTap(
                    {{}, [environment] { return kelvra::makeX11KeyboardTap(environment); }}, "x11");
            },
            [this](const kelvra::ClickerCapturedInput& input) { router_.route(input); }, {},
            kelvra::ClickerInputConfiguration::defaults());
        monitor_->start(nullptr);
    }

    ~ApplicationKeyPath() {
        monitor_->stop();
        monitor_->join();
        router_.setBackend(nullptr);
    }

private:
    const std::shared_ptr<kelvra::ManualMainThreadExecutor> mainThread_ =
        std::make_shared<kelvra::ManualMainThreadExecutor>();
    kelvra::ClickerInputRouter router_;
    std::shared_ptr<kelvra::ClickerInputMonitor> monitor_;
};

// The floor under that path: a minimal X client that grabs Page Down and, on its own thread
// blocked on the connection, writes each press to the backend with the application's one write.
class MinimalGrabKeyPath {
public:
    explicit MinimalGrabKeyPath(const std::shared_ptr<kelvra::BackendSupervisor>& backend)
        : commands_(backend->clickerCommands()), connection_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(connection_) != 0) {
            return;
        }
        const auto root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        xcb_grab_key(connection_, 0, root, XCB_MOD_MASK_ANY, XTestKeyboard::kPageDown,
                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_flush(connection_);
        thread_ = std::thread([this] {
            while (xcb_generic_event_t* event = xcb_wait_for_event(connection_)) {
                if ((event->response_type & 0x7F) == XCB_KEY_PRESS) {
                    commands_->write(kelvra::ClickerDirection::right);
                }
                std::free(event);
            }
        });
    }

    ~MinimalGrabKeyPath() {
        // Ends the wait: the connection fails and the thread returns.
        ::shutdown(xcb_get_file_descriptor(connection_), SHUT_RDWR);
        if (thread_.joinable()) {
            thread_.join();
        }
        xcb_disconnect(connection_);
    }

private:
    const std::shared_ptr<kelvra::ClickerCommandInput> commands_;
    xcb_connection_t* const connection_;
    std::thread thread_;
};

// Paced as a person presses: an XTEST press of Page Down every 50 ms, each through `KeyPath`
// to the "clicker-key" line read by a real node child standing in for the backend, timed until
// that child acknowledges it. The idle gaps let every thread on the path fall asleep, so each
// press pays for the threads it wakes. Counts the allocations the key path makes between a
// press and its acknowledgement.
template <typename KeyPath>
void pressToBackend(benchmark::State& state) {
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
    XTestKeyboard keyboard;
    std::optional<KeyPath> keyPath;
    if (ready == true && keyboard.usable()) {
        keyPath.emplace(supervisor);
    }
    const bool grabbed = keyPath && keyboard.pressUntilGrabbed(acknowledgedWithin);
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    uint64_t allocations = 0;
    measuringThread = true;
    for (auto _ : state) {
        if (!grabbed) {
            state.SkipWithError(ready != true        ? "the stand-in backend did not start"
                                : !keyboard.usable() ? "needs an X server"
                                                     : "the key path took no grab");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const uint64_t allocatedBefore = allocationsElsewhere.load();
        const auto start = Clock::now();
        keyboard.press();
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
    keyPath.reset();
    bool stopped = false;
    supervisor->stop([&stopped] { stopped = true; });
    mainThread->runUntil([&stopped] { return stopped; }, std::chrono::minutes(1));
    std::filesystem::remove_all(workingDirectory);
}

void BM_X11PressToBackend(benchmark::State& state) {
    pressToBackend<ApplicationKeyPath>(state);
}
BENCHMARK(BM_X11PressToBackend)->UseRealTime()->Iterations(300);

void BM_X11PressToBackendFloor(benchmark::State& state) {
    pressToBackend<MinimalGrabKeyPath>(state);
}
BENCHMARK(BM_X11PressToBackendFloor)->UseRealTime()->Iterations(300);

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
