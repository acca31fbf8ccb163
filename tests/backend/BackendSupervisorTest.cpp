// SPDX-License-Identifier: MIT
// Drives the supervisor against small real backends (tests/backend/fixtures) and checks what the
// user or the log would see.
#include <dirent.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>

#include "backend/BackendSupervisor.h"
#include "support/ManualMainThreadExecutor.h"
#include "support/RecordingLog.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using testing::RecordingLog;
namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(KELVRA_TEST_SOURCE_DIR) / "tests/backend/fixtures";
constexpr auto kPatience = 20s;

BackendSupervisorTimeouts quickTimeouts() {
    BackendSupervisorTimeouts timeouts;
    timeouts.startup = 10s;
    timeouts.shutdown = 300ms;
    timeouts.terminate = 300ms;
    timeouts.kill = 1s;
    timeouts.concurrentStop = 8s;
    timeouts.clickerUpdate = 300ms;
    return timeouts;
}

BackendLaunchInfo fixture(const std::string& name, bool isDevelopment = false) {
    const fs::path runtime = name.ends_with(".js") ? fs::path(KELVRA_TEST_NODE) : "/bin/sh";
    return {runtime, kFixtures / name, kFixtures, isDevelopment};
}

int openDescriptorCount() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

bool hasChildren() {
    // Reaps nothing that is still running; any leftover child or zombie answers.
    return !(::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD);
}

bool processIsGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    // A worker reparented to an init that does not reap stays a zombie; it is dead all the same.
    return !(stat >> pidText >> name >> state) || state == "Z";
}

/// A signal is delivered some time after kill(2) returns.
bool processGoesAway(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!processIsGone(pid)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class BackendSupervisorTest : public ::testing::Test {
protected:
    std::shared_ptr<BackendSupervisor> make(const BackendLaunchInfo& launchInfo,
                                            std::optional<BackendServerBinding> binding = {},
                                            BackendSupervisorTimeouts timeouts = quickTimeouts()) {
        return BackendSupervisor::create(launchInfo, log_, std::move(binding), mainThread_,
                                         timeouts);
    }

    static std::future<std::expected<std::string, Error>> start(
        const std::shared_ptr<BackendSupervisor>& supervisor) {
        auto promise = std::make_shared<std::promise<std::expected<std::string, Error>>>();
        supervisor->start([promise](auto outcome) { promise->set_value(std::move(outcome)); });
        return promise->get_future();
    }

    static std::expected<std::string, Error> startAndWait(
        const std::shared_ptr<BackendSupervisor>& supervisor) {
        auto outcome = start(supervisor);
        if (outcome.wait_for(kPatience) != std::future_status::ready) {
            ADD_FAILURE() << "start did not complete";
            return std::unexpected(Error("timeout", "timeout"));
        }
        return outcome.get();
    }

    static std::future<void> stop(const std::shared_ptr<BackendSupervisor>& supervisor) {
        auto promise = std::make_shared<std::promise<void>>();
        supervisor->stop([promise] { promise->set_value(); });
        return promise->get_future();
    }

    static void stopAndWait(const std::shared_ptr<BackendSupervisor>& supervisor) {
        ASSERT_EQ(stop(supervisor).wait_for(kPatience), std::future_status::ready);
    }

    std::shared_ptr<RecordingLog> log_ = std::make_shared<RecordingLog>();
    std::shared_ptr<ManualMainThreadExecutor> mainThread_ =
        std::make_shared<ManualMainThreadExecutor>();
};

TEST_F(BackendSupervisorTest, LaunchesWithTheBackendEnvironment) {
    const struct {
        bool isDevelopment;
        std::optional<BackendServerBinding> binding;
        std::vector<std::string> expected;
    } rows[] = {
        {false,
         std::nullopt,
         {"NODE_ENV=production", "CAPTURE=macos", "HOST=unset", "PORT=unset", "URL_HOST=unset",
          "script=" + (kFixtures / "environment.sh").string()}},
        {true,
         BackendServerBinding{"0.0.0.0", 8123, "192.168.1.20"},
         {"NODE_ENV=development", "CAPTURE=macos", "HOST=0.0.0.0", "PORT=8123",
          "URL_HOST=192.168.1.20"}},
    };
    for (const auto& row : rows) {
        log_ = std::make_shared<RecordingLog>();
        auto supervisor = make(fixture("environment.sh", row.isDevelopment), row.binding);
        EXPECT_EQ(startAndWait(supervisor), "http://127.0.0.1:8080/");
        EXPECT_TRUE(log_->contains("[shell] Started backend PID " +
                                   std::to_string(*supervisor->processIdentifier()) + "."));
        EXPECT_TRUE(log_->contains("[server] cwd=" + kFixtures.string()));
        for (const auto& line : row.expected) {
            EXPECT_TRUE(log_->contains("[server] " + line)) << line;
        }
        stopAndWait(supervisor);
        EXPECT_EQ(supervisor->recordedExitCode(), 0);
        EXPECT_TRUE(log_->contains("[shell] Backend exited with code 0."));
        EXPECT_FALSE(log_->contains("[shell] Backend ignored graceful shutdown; sending SIGTERM."));
    }
}

TEST_F(BackendSupervisorTest, ReportsEventsAndKeepsTheFirstReadiness) {
    auto supervisor = make(fixture("ready.js"));
    std::promise<bool> listener;
    std::promise<ClickerDistributorState> state;
    supervisor->setOnClickerListenerChange([&](bool enabled) { listener.set_value(enabled); });
    supervisor->setOnClickerDistributorStateChange(
        [&](const ClickerDistributorState& value) { state.set_value(value); });
    bool unexpectedExit = false;
    supervisor->setOnUnexpectedExit([&](int32_t) { unexpectedExit = true; });

    EXPECT_EQ(startAndWait(supervisor), "http://127.0.0.1:8080/");
    EXPECT_TRUE(listener.get_future().get());
    EXPECT_EQ(state.get_future().get(), (ClickerDistributorState{true, 2, true}));
    EXPECT_TRUE(log_->waitFor(
        "[server] KELVRA_HUB_DESKTOP {\"event\":\"ready\",\"url\":\"http://127.0.0.1:9999/\"}"));

    stopAndWait(supervisor);
    EXPECT_EQ(supervisor->recordedExitCode(), 0);
    EXPECT_FALSE(unexpectedExit);
}

TEST_F(BackendSupervisorTest, FramesSplitWritesAndCarriageReturns) {
    auto supervisor = make(fixture("split-writes.js"));
    EXPECT_EQ(startAndWait(supervisor), "http://127.0.0.1:8123/caf%C3%A9");
    EXPECT_TRUE(log_->contains("[server] Gr\u00FC\u00DFe \U0001F600 from the server"));
    stopAndWait(supervisor);
}

TEST_F(BackendSupervisorTest, StartFailsWithTheFirstProblem) {
    const struct {
        BackendLaunchInfo launchInfo;
        std::string description;
        std::string logLine;
    } rows[] = {
        {fixture("exit-3.sh"), "The Kelvra Hub server exited with code 3 before it was ready.",
         "[shell] Backend exited with code 3."},
        {fixture("never-ready.sh"), "The Kelvra Hub server did not become ready within 1 seconds.",
         "[server] still warming up"},
        {fixture("localhost-ready.sh"),
         "The Kelvra Hub server returned an invalid readiness message.", ""},
        {fixture("garbled-ready.sh"), "The Kelvra Hub server emitted a malformed desktop event.",
         ""},
        {fixture("invalid-utf8-stderr.sh"), "The Kelvra Hub server emitted invalid UTF-8 output.",
         ""},
        {{"/nonexistent/node", kFixtures / "ready.js", kFixtures, false},
         "Kelvra Hub could not launch its server /nonexistent/node: No such file or directory.",
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        log_ = std::make_shared<RecordingLog>();
        auto timeouts = quickTimeouts();
        timeouts.startup = 1500ms;
        auto supervisor = make(row.launchInfo, {}, timeouts);
        bool fatalProtocol = false;
        supervisor->setOnFatalProtocol([&](const Error&) { fatalProtocol = true; });
        const auto outcome = startAndWait(supervisor);
        ASSERT_FALSE(outcome.has_value());
        EXPECT_EQ(outcome.error().description(), row.description);
        if (!row.logLine.empty()) {
            EXPECT_TRUE(log_->waitFor(row.logLine));
        }
        stopAndWait(supervisor);  // a failed start leaves the child to its owner
        EXPECT_FALSE(fatalProtocol);
    }
}

TEST_F(BackendSupervisorTest, StartsOnlyOnce) {
    auto supervisor = make(fixture("ready.js"));
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    const auto again = startAndWait(supervisor);
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error().description(), "The Kelvra Hub backend has already been started.");
    stopAndWait(supervisor);
}

TEST_F(BackendSupervisorTest, AnExitAfterReadinessIsUnexpectedWhateverItsCode) {
    for (const auto& [name, code] : {std::pair{"ready-then-exit.sh", 0}, {"ready-at-exit.sh", 4}}) {
        SCOPED_TRACE(name);
        auto supervisor = make(fixture(name));
        std::promise<int32_t> unexpected;
        supervisor->setOnUnexpectedExit([&](int32_t status) { unexpected.set_value(status); });
        EXPECT_EQ(startAndWait(supervisor), "http://127.0.0.1:8080/");
        supervisor->sendClickerKey(
            ClickerDirection::right);  // the first fixture leaves on any input
        auto status = unexpected.get_future();
        ASSERT_EQ(status.wait_for(kPatience), std::future_status::ready);
        EXPECT_EQ(status.get(), code);
        EXPECT_EQ(supervisor->recordedExitCode(), code);
        stopAndWait(supervisor);
    }
}

TEST_F(BackendSupervisorTest, ReportsOnlyTheFirstProtocolFailureAfterReadiness) {
    auto supervisor = make(fixture("malformed-after-ready.sh"));
    std::mutex mutex;
    std::vector<std::string> failures;
    supervisor->setOnFatalProtocol([&](const Error& error) {
        std::lock_guard lock(mutex);
        failures.push_back(error.description());
    });
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    supervisor->sendClickerKey(ClickerDirection::left);
    ASSERT_TRUE(log_->waitFor("[server] KELVRA_HUB_DESKTOP not json"));
    stopAndWait(supervisor);
    std::lock_guard lock(mutex);
    EXPECT_EQ(failures, std::vector<std::string>{"The Kelvra Hub server returned an invalid "
                                                 "Clicker Distributor listener state."});
}

TEST_F(BackendSupervisorTest, WritesClickerCommandsOnlyToAReadyBackend) {
    auto supervisor = make(fixture("ready.js"));
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    supervisor->sendClickerKey(ClickerDirection::right);
    supervisor->sendClickerAction(ClickerCustomAction::displayStillImage10);
    supervisor->sendClickerKey(ClickerDirection::left);
    ASSERT_TRUE(log_->waitFor(
        "[server] got {\"command\":\"clicker-key\",\"direction\":\"left\",\"consumed\":true}"));
    std::vector<std::string> received;
    for (const auto& line : log_->lines()) {
        if (line.starts_with("[server] got ")) {
            received.push_back(line.substr(13));
        }
    }
    EXPECT_EQ(
        received,
        (std::vector<std::string>{
            R"({"command":"clicker-key","direction":"right","consumed":true})",
            R"({"command":"clicker-action","action":"display-still-image-10","consumed":true})",
            R"({"command":"clicker-key","direction":"left","consumed":true})"}));
    stopAndWait(supervisor);
    EXPECT_TRUE(log_->contains("[server] got {\"command\":\"shutdown\"}"));

    // After the stop, commands are dropped without a word.
    supervisor->sendClickerKey(ClickerDirection::right);
    std::optional<std::string> refused;
    supervisor->setClickerDistributorEnabled(true, [&](std::expected<bool, Error> result) {
        refused = result ? "confirmed" : result.error().description();
    });
    ASSERT_TRUE(mainThread_->runUntil([&] { return refused.has_value(); }, kPatience));
    EXPECT_EQ(refused, "The Kelvra Hub server is unavailable.");
    for (const auto& line : log_->lines()) {
        EXPECT_FALSE(line.starts_with("[shell] Dropped")) << line;
    }
}

TEST_F(BackendSupervisorTest, ConfirmsSwitchRequestsOnTheMainThread) {
    auto supervisor = make(fixture("ready.js"));
    std::vector<ClickerDistributorUpdateResult> results;
    std::mutex mutex;
    supervisor->setOnClickerDistributorUpdateResult([&](const ClickerDistributorUpdateResult& r) {
        std::lock_guard lock(mutex);
        results.push_back(r);
    });
    EXPECT_TRUE(startAndWait(supervisor).has_value());

    std::vector<std::string> outcomes;
    bool onMainThread = true;
    auto record = [&](std::expected<bool, Error> result) {
        onMainThread = onMainThread && mainThread_->isMainThread();
        outcomes.push_back(result ? (*result ? "on" : "off") : result.error().description());
    };
    supervisor->setClickerDistributorEnabled(true, record);
    supervisor->setClickerDistributorEnabled(false, record);  // the fixture refuses this one
    ASSERT_TRUE(mainThread_->runUntil([&] { return outcomes.size() == 2; }, kPatience));
    std::sort(outcomes.begin(), outcomes.end());
    EXPECT_EQ(outcomes, (std::vector<std::string>{"The setting could not be saved.", "on"}));
    EXPECT_TRUE(onMainThread);
    stopAndWait(supervisor);
    std::lock_guard lock(mutex);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].requestId.size(), 36u);
}

TEST_F(BackendSupervisorTest, UnansweredSwitchRequestsTimeOut) {
    auto supervisor = make(fixture("no-reading.js"));
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    std::optional<std::string> outcome;
    supervisor->setClickerDistributorEnabled(true, [&](std::expected<bool, Error> result) {
        EXPECT_TRUE(mainThread_->isMainThread());
        outcome = result ? "confirmed" : result.error().description();
    });
    ASSERT_TRUE(mainThread_->runUntil([&] { return outcome.has_value(); }, kPatience));
    EXPECT_EQ(outcome, "The Kelvra Hub server did not confirm the Clicker Distributor update.");
    stopAndWait(supervisor);
}

TEST_F(BackendSupervisorTest, AFullPipeDropsInputLogsOnceAndSkipsTheGracefulStop) {
    auto supervisor = make(fixture("no-reading.js"));
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    for (int index = 0; index < 5000; ++index) {
        supervisor->sendClickerKey(ClickerDirection::right);
    }
    // Queued behind every key, so its answer means all of them were tried.
    std::optional<std::string> outcome;
    supervisor->setClickerDistributorEnabled(true, [&](std::expected<bool, Error> result) {
        outcome = result ? "confirmed" : result.error().description();
    });
    ASSERT_TRUE(mainThread_->runUntil([&] { return outcome.has_value(); }, kPatience));
    EXPECT_EQ(outcome, "The Kelvra Hub server is unavailable.");
    EXPECT_EQ(log_->count("[shell] Dropped Clicker Distributor input because backend stdin is "
                          "backpressured. Further drops will not be logged."),
              1u);

    stopAndWait(supervisor);
    EXPECT_TRUE(log_->contains(
        "[shell] Graceful backend shutdown failed: Resource temporarily unavailable"));
    EXPECT_TRUE(log_->contains("[shell] Backend ignored graceful shutdown; sending SIGTERM."));
    EXPECT_EQ(supervisor->recordedExitCode(), 0);
}

TEST_F(BackendSupervisorTest, ABackendDyingUnderWritesCannotTakeTheApplicationWithIt) {
    auto supervisor = make(fixture("dies-on-input.js"));
    std::promise<int32_t> unexpected;
    supervisor->setOnUnexpectedExit([&](int32_t status) { unexpected.set_value(status); });
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    auto status = unexpected.get_future();
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (status.wait_for(0s) != std::future_status::ready &&
           std::chrono::steady_clock::now() < deadline) {
        supervisor->sendClickerKey(ClickerDirection::left);
    }
    ASSERT_EQ(status.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(status.get(), 5);
    stopAndWait(supervisor);
    for (const auto& line : log_->lines()) {
        if (line.starts_with("[shell] Dropped")) {
            EXPECT_TRUE(line.find("backend stdin is unavailable (errno 32)") != std::string::npos ||
                        line.find("backpressured") != std::string::npos)
                << line;
        }
    }
}

TEST_F(BackendSupervisorTest, StopEscalatesOnlyAsFarAsNeeded) {
    const struct {
        std::string fixture;
        std::vector<std::string> expected;
        std::vector<std::string> absent;
        std::optional<int32_t> exitCode;
    } rows[] = {
        {"ready.js",
         {"[shell] Backend exited with code 0."},
         {"[shell] Backend ignored graceful shutdown; sending SIGTERM."},
         0},
        {"ignore-shutdown.js",
         {"[shell] Backend ignored graceful shutdown; sending SIGTERM."},
         {"[shell] Backend ignored SIGTERM; sending SIGKILL."},
         0},
        {"ignore-sigterm.js",
         {"[shell] Backend ignored graceful shutdown; sending SIGTERM.",
          "[shell] Backend ignored SIGTERM; sending SIGKILL.",
          "[shell] Backend exited with code 137."},
         {},
         std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fixture);
        log_ = std::make_shared<RecordingLog>();
        auto supervisor = make(fixture(row.fixture));
        bool unexpectedExit = false;
        supervisor->setOnUnexpectedExit([&](int32_t) { unexpectedExit = true; });
        EXPECT_TRUE(startAndWait(supervisor).has_value());
        stopAndWait(supervisor);
        for (const auto& line : row.expected) {
            EXPECT_TRUE(log_->contains(line)) << line;
        }
        for (const auto& line : row.absent) {
            EXPECT_FALSE(log_->contains(line)) << line;
        }
        EXPECT_EQ(supervisor->recordedExitCode(), row.exitCode);
        EXPECT_FALSE(unexpectedExit);
        stopAndWait(supervisor);  // a second stop is harmless
    }
}

TEST_F(BackendSupervisorTest, ASecondConcurrentStopOnlyWaits) {
    auto supervisor = make(fixture("ignore-shutdown.js"));
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    auto first = stop(supervisor);
    auto second = stop(supervisor);
    ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);
    ASSERT_EQ(first.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(log_->count("[shell] Backend ignored graceful shutdown; sending SIGTERM."), 1u);
}

TEST_F(BackendSupervisorTest, StoppingBeforeStartOrDuringStartupIsSafe) {
    auto neverStarted = make(fixture("ready.js"));
    stopAndWait(neverStarted);
    EXPECT_EQ(neverStarted->processIdentifier(), std::nullopt);

    // A backend still starting receives the shutdown command too, and start fails.
    auto starting = make(fixture("environment.sh"));
    auto outcome = start(starting);
    stopAndWait(starting);
    ASSERT_EQ(outcome.wait_for(kPatience), std::future_status::ready);
    const auto result = outcome.get();
    if (!result) {  // the backend may have managed to report readiness first
        EXPECT_EQ(result.error().description(),
                  "The Kelvra Hub server exited with code 0 before it was ready.");
    }
    EXPECT_EQ(starting->recordedExitCode(), 0);
}

TEST_F(BackendSupervisorTest, NoWorkerOfTheBackendOutlivesIt) {
    auto supervisor = make(fixture("grandchild.sh"));
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    pid_t worker = 0;
    for (const auto& line : log_->lines()) {
        if (line.starts_with("[server] worker=")) {
            worker = std::stoi(line.substr(16));
        }
    }
    ASSERT_GT(worker, 0);
    EXPECT_FALSE(processIsGone(worker));
    stopAndWait(supervisor);
    EXPECT_EQ(supervisor->recordedExitCode(), 0);
    EXPECT_TRUE(processGoesAway(worker));
}

TEST_F(BackendSupervisorTest, ReleasingARunningSupervisorEndsItsChild) {
    auto supervisor = make(fixture("ignore-shutdown.js"));
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    const pid_t pid = *supervisor->processIdentifier();
    // The last owner may be one of the supervisor's own queues, finishing just after start.
    supervisor.reset();
    EXPECT_TRUE(processGoesAway(pid));
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (hasChildren() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(hasChildren());
}

TEST_F(BackendSupervisorTest, ManyStartsAndStopsLeakNoDescriptorOrProcess) {
    ASSERT_FALSE(hasChildren());
    const int descriptorsBefore = openDescriptorCount();
    for (int cycle = 0; cycle < 200; ++cycle) {
        auto supervisor = make(fixture("ready-then-exit.sh"));
        ASSERT_TRUE(startAndWait(supervisor).has_value()) << cycle;
        stopAndWait(supervisor);
        ASSERT_EQ(supervisor->recordedExitCode(), 0) << cycle;
    }
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    EXPECT_FALSE(hasChildren());
}

}  // namespace
}  // namespace kelvra
