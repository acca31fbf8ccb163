// SPDX-License-Identifier: MIT
// What the backend host costs: clicker key latency to the child's input, launch overhead against
// the bare child, and how fast backend output flows into the log.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "backend/BackendSupervisor.h"
#include "core/FileLog.h"
#include "support/ManualMainThreadExecutor.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path kFixtures = fs::path(KELVRA_BENCH_SOURCE_DIR) / "tests/backend/fixtures";
constexpr std::chrono::minutes kPatience{1};

// As in the application's main, writes to a child that has died fail instead of ending us.
const bool kBrokenPipesIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;

class NullLog final : public LogSink {
public:
    void write(std::string_view, std::string_view) override {}
};

fs::path temporaryDirectory() {
    char pattern[] = "/tmp/kelvra-bench-XXXXXX";
    return mkdtemp(pattern);
}

// Completions run on the benchmark's thread, which waits for them here.
const auto mainThread = std::make_shared<ManualMainThreadExecutor>();

std::shared_ptr<BackendSupervisor> startedSupervisor(const BackendLaunchInfo& launchInfo,
                                                     std::shared_ptr<LogSink> log) {
    auto supervisor =
        BackendSupervisor::create(launchInfo, std::move(log), std::nullopt, mainThread, mainThread);
    std::optional<bool> ready;
    supervisor->start([&ready](auto outcome) { ready = outcome.has_value(); });
    mainThread->runUntil([&ready] { return ready.has_value(); }, kPatience);
    if (ready != true) {
        return nullptr;
    }
    return supervisor;
}

void stop(BackendSupervisor& supervisor) {
    bool stopped = false;
    supervisor.stop([&stopped] { stopped = true; });
    mainThread->runUntil([&stopped] { return stopped; }, kPatience);
}

double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1))];
}

// From a clicker key written to the bytes being readable on the child's standard input. The child
// never reads; a second read end opened through /proc takes the bytes out again.
void BM_ClickerKeyLatency(benchmark::State& state) {
    auto supervisor =
        startedSupervisor({"/bin/sh", kFixtures / "ready-then-idle.sh", kFixtures, false},
                          std::make_shared<NullLog>());
    if (!supervisor) {
        state.SkipWithError("backend did not start");
        return;
    }
    const std::string childInput =
        "/proc/" + std::to_string(*supervisor->processIdentifier()) + "/fd/0";
    const int reader = ::open(childInput.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    std::vector<double> microseconds;
    char buffer[256];
    for (auto _ : state) {
        const auto sent = Clock::now();
        supervisor->clickerCommands()->write(ClickerDirection::right);
        pollfd readable{reader, POLLIN, 0};
        ::poll(&readable, 1, 5000);
        microseconds.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        while (::read(reader, buffer, sizeof buffer) > 0) {
        }
    }
    ::close(reader);
    state.counters["p50_us"] = percentile(microseconds, 0.50);
    state.counters["p99_us"] = percentile(microseconds, 0.99);
    stop(*supervisor);
}
BENCHMARK(BM_ClickerKeyLatency)->Iterations(5000)->UseRealTime();

/// Spawns the reference backend bare and times it to its ready line.
double bareLaunchSeconds(const BackendLaunchInfo& launchInfo) {
    int output[2];
    int input[2];
    if (::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(input, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addchdir_np(&actions, launchInfo.workingDirectory.c_str());
    std::string node = launchInfo.nodePath.string();
    std::string script = launchInfo.entryPointPath.string();
    char* argv[] = {node.data(), script.data(), nullptr};
    const auto begun = Clock::now();
    pid_t pid = 0;
    posix_spawn(&pid, node.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    ::close(input[0]);
    std::string received;
    char buffer[4096];
    while (received.find("\"ready\"") == std::string::npos) {
        const ssize_t count = ::read(output[0], buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(count));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    ::close(input[1]);  // the backend leaves at the end of its input
    ::close(output[0]);
    ::waitpid(pid, nullptr, 0);
    return seconds;
}

// start() to ready, divided by the time the same child needs on its own.
void BM_LaunchOverhead(benchmark::State& state) {
    const fs::path stateDirectory = temporaryDirectory();
    ::setenv("KELVRA_HUB_SERVER_STATE_FILE", (stateDirectory / "state.json").c_str(), 1);
    const fs::path server = fs::path(KELVRA_BENCH_SOURCE_DIR) / "server";
    const BackendLaunchInfo launchInfo{KELVRA_BENCH_NODE, server / "desktop.js", server, false};
    std::vector<double> bare;
    std::vector<double> supervised;
    for (auto _ : state) {
        bare.push_back(bareLaunchSeconds(launchInfo));
        const auto begun = Clock::now();
        auto supervisor = startedSupervisor(launchInfo, std::make_shared<NullLog>());
        supervised.push_back(std::chrono::duration<double>(Clock::now() - begun).count());
        if (supervisor) {
            stop(*supervisor);
        }
    }
    state.counters["bare_ms"] = percentile(bare, 0.5) * 1000;
    state.counters["supervised_ms"] = percentile(supervised, 0.5) * 1000;
    state.counters["ratio"] = percentile(supervised, 0.5) / percentile(bare, 0.5);
    fs::remove_all(stateDirectory);
}
BENCHMARK(BM_LaunchOverhead)->Iterations(15)->UseRealTime()->Unit(benchmark::kMillisecond);

// Lines per second from the child through the supervisor into a real log, the delay that a
// flood of lines before readiness adds to the ready URL, and how much one flood grows the log.
void BM_BackendOutputIntoLog(benchmark::State& state) {
    const auto lines = state.range(0);
    ::setenv("KELVRA_BENCH_LINES", std::to_string(lines).c_str(), 1);
    const fs::path logDirectory = temporaryDirectory();
    auto log = FileLog::open(logDirectory, FileLog::kDefaultMaximumBytes);
    const BackendLaunchInfo launchInfo{KELVRA_BENCH_NODE, kFixtures / "flood-then-ready.js",
                                       kFixtures, false};
    std::vector<double> seconds;
    uintmax_t logBytes = 0;
    for (auto _ : state) {
        const auto sizeBefore = fs::file_size((*log)->path());
        const auto begun = Clock::now();
        auto supervisor = startedSupervisor(launchInfo, *log);
        seconds.push_back(std::chrono::duration<double>(Clock::now() - begun).count());
        if (supervisor) {
            stop(*supervisor);
        }
        logBytes = std::max(logBytes, fs::file_size((*log)->path()) - sizeBefore);
    }
    state.counters["ready_after_ms"] = percentile(seconds, 0.5) * 1000;
    state.counters["log_growth_kib"] = static_cast<double>(logBytes) / 1024;
    if (lines > 0) {
        state.counters["lines_per_s"] = static_cast<double>(lines) / percentile(seconds, 0.5);
    }
    log->reset();
    fs::remove_all(logDirectory);
}
BENCHMARK(BM_BackendOutputIntoLog)
    ->Arg(0)
    ->Arg(5000)
    ->Arg(30000)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvra
