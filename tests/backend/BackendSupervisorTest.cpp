// SPDX-License-Identifier: MIT
// Drives the supervisor against small real backends (tests/backend/fixtures) and checks what the
// user or the log would see.
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "backend/BackendSupervisor.h"
#include "core/Error.h"
#include "support/ManualMainThreadExecutor.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using testing::RecordingLog;
namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(KELVRA_TEST_SOURCE_DIR) / "tests/backend/fixtures";
constexpr auto kPatience = 20s;

// Switch requests keep their default deadline of 5 s.
constexpr BackendSupervisorTimeouts kQuickTimeouts{
    .startup = 10s, .shutdown = 300ms, .terminate = 300ms};

BackendLaunchInfo fixture(const std::string& name, bool isDevelopment = false) {
    const fs::path runtime = name.ends_with(".js") ? fs::path(KELVRA_TEST_NODE) : "/bin/sh";
    return {runtime, kFixtures / name, kFixtures, isDevelopment};
}

long openDescriptorCount() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
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

using StartOutcome = std::expected<std::string, BackendStartError>;
using UpdateOutcome = std::expected<bool, BackendSupervisorError>;
const UpdateOutcome kUnavailable =
    std::unexpected(BackendSupervisorError::Kind::backendUnavailable);

std::string describe(const UpdateOutcome& outcome) {
    return outcome ? (*outcome ? "on" : "off") : outcome.error().description();
}

class BackendSupervisorTest : public ::testing::Test {
protected:
    std::shared_ptr<BackendSupervisor> make(const BackendLaunchInfo& launchInfo,
                                            std::optional<BackendServerBinding> binding = {},
                                            BackendSupervisorTimeouts timeouts = kQuickTimeouts) {
        log_ = std::make_shared<RecordingLog>();
        exits_.clear();
        fatal_.clear();
        auto supervisor = BackendSupervisor::create(launchInfo, log_, std::move(binding),
                                                    mainThread_, mainThread_, timeouts);
        supervisor->setCallbacks({
            .onUnexpectedExit = [this](int32_t status) { exits_.push_back(status); },
            .onFatalProtocol =
                [this](const DesktopProtocolError& error) { fatal_.push_back(error); },
        });
        return supervisor;
    }

    /// Runs the main thread until `condition` holds.
    bool waitUntil(const std::function<bool()>& condition) {
        return mainThread_->runUntil(condition, kPatience);
    }

    /// Runs the main thread, which reads the backend's output, until `line` is logged.
    bool logged(const std::string& line) {
        return waitUntil([&] { return log_->contains(line); });
    }

    /// The outcome lands in the returned slot, on the main thread.
    static std::shared_ptr<std::optional<StartOutcome>> start(
        const std::shared_ptr<BackendSupervisor>& supervisor) {
        auto outcome = std::make_shared<std::optional<StartOutcome>>();
        supervisor->start([outcome](StartOutcome result) { *outcome = std::move(result); });
        return outcome;
    }

    StartOutcome startAndWait(const std::shared_ptr<BackendSupervisor>& supervisor) {
        auto outcome = start(supervisor);
        if (!waitUntil([&] { return outcome->has_value(); })) {
            ADD_FAILURE() << "start did not complete";
            return std::unexpected(BackendSupervisorError::Kind::backendUnavailable);
        }
        return **outcome;
    }

    /// A supervisor of the fixture `name` that has started.
    std::shared_ptr<BackendSupervisor> started(const std::string& name) {
        auto supervisor = make(fixture(name));
        EXPECT_TRUE(startAndWait(supervisor).has_value()) << name;
        return supervisor;
    }

    static std::shared_ptr<bool> stop(const std::shared_ptr<BackendSupervisor>& supervisor) {
        auto stopped = std::make_shared<bool>(false);
        supervisor->stop([stopped] { *stopped = true; });
        return stopped;
    }

    /// The answer to a switch request, once the main thread has it.
    UpdateOutcome switchAndWait(const std::shared_ptr<BackendSupervisor>& supervisor) {
        std::optional<UpdateOutcome> outcome;
        supervisor->setClickerDistributorEnabled(true,
                                                 [&](UpdateOutcome result) { outcome = result; });
        EXPECT_TRUE(waitUntil([&] { return outcome.has_value(); })) << "no answer";
        return outcome.value_or(UpdateOutcome(true));
    }

    void stopAndWait(const std::shared_ptr<BackendSupervisor>& supervisor) {
        auto stopped = stop(supervisor);
        EXPECT_TRUE(waitUntil([&] { return *stopped; })) << "stop did not complete";
    }

    /// The rest of each logged line that starts with `prefix`.
    std::vector<std::string> loggedAfter(const std::string& prefix) const {
        std::vector<std::string> rests;
        for (const auto& line : log_->lines()) {
            if (line.starts_with(prefix)) {
                rests.push_back(line.substr(prefix.size()));
            }
        }
        return rests;
    }

    // What the latest supervisor made by `make` logged and reported.
    std::shared_ptr<RecordingLog> log_;
    std::vector<int32_t> exits_;
    std::vector<DesktopProtocolError> fatal_;
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
        auto supervisor = make(fixture("environment.sh", row.isDevelopment), row.binding);
        EXPECT_EQ(startAndWait(supervisor), "http://127.0.0.1:8080/");
        EXPECT_TRUE(log_->contains("[server] cwd=" + kFixtures.string()));
        for (const auto& line : row.expected) {
            EXPECT_TRUE(log_->contains("[server] " + line)) << line;
        }
        stopAndWait(supervisor);
        EXPECT_EQ(supervisor->recordedExitCode(), 0);
    }
}

TEST_F(BackendSupervisorTest, ReportsEventsOnTheMainThreadAndKeepsTheFirstReadiness) {
    auto supervisor = make(fixture("ready.js"));
    std::vector<std::string> events;
    auto record = [&](std::string event) {
        events.push_back(mainThread_->isMainThread() ? event : "off the main thread: " + event);
    };
    supervisor->setCallbacks({
        .onUnexpectedExit = [&](int32_t) { record("unexpected exit"); },
        .onClickerListenerChange =
            [&](bool enabled) { record("listener " + std::to_string(enabled)); },
        .onClickerDistributorStateChange =
            [&](const ClickerDistributorState& state) {
                record("state " + std::to_string(state.enabledGroupCount));
            },
    });
    EXPECT_EQ(startAndWait(supervisor), "http://127.0.0.1:8080/");
    EXPECT_EQ(events, (std::vector<std::string>{"state 2", "listener 1"}));
    EXPECT_TRUE(logged(
        "[server] KELVRA_HUB_DESKTOP {\"event\":\"ready\",\"url\":\"http://127.0.0.1:9999/\"}"));
    stopAndWait(supervisor);
    EXPECT_EQ(supervisor->recordedExitCode(), 0);
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(BackendSupervisorTest, DetachedCallbacksAreNeverCalledAgain) {
    auto supervisor = make(fixture("ready.js"));
    int calls = 0;
    // The backend prints both events in one write, so the second is on its way to the main
    // thread when the first detaches the callbacks.
    supervisor->setCallbacks({
        .onClickerListenerChange = [&](bool) { ++calls; },
        .onClickerDistributorStateChange =
            [&](const ClickerDistributorState&) {
                ++calls;
                supervisor->detachCallbacks();
            },
    });
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    stopAndWait(supervisor);
    EXPECT_EQ(calls, 1);
}

TEST_F(BackendSupervisorTest, StartFailsWithTheFirstProblem) {
    const struct {
        BackendLaunchInfo launchInfo;
        BackendStartError error;
        std::string logLine;
    } rows[] = {
        {fixture("exit-3.sh"), BackendSupervisorError::earlyExit(3),
         "[shell] Backend exited with code 3."},
        {fixture("never-ready.sh"), BackendSupervisorError::startupTimeout(10),
         "[server] still warming up"},
        {fixture("garbled-ready.sh"), DesktopProtocolError::Kind::malformedEvent, ""},
        {fixture("invalid-utf8-stderr.sh"), DesktopProtocolError::Kind::invalidUTF8, ""},
        {fixture("endless-line.sh"), DesktopProtocolError::Kind::lineTooLong, ""},
        {{"/nonexistent/node", kFixtures / "ready.js", kFixtures, false},
         BackendSupervisorError::launchFailed("/nonexistent/node", ENOENT),
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Error(row.error).description());
        const long descriptorsBefore = openDescriptorCount();
        auto supervisor = make(row.launchInfo);
        auto outcome = start(supervisor);
        if (!row.logLine.empty()) {
            EXPECT_TRUE(logged(row.logLine));
        }
        if (row.error == BackendStartError(BackendSupervisorError::startupTimeout(10))) {
            mainThread_->advance(10s);
        }
        ASSERT_TRUE(waitUntil([&] { return outcome->has_value(); }));
        EXPECT_EQ(**outcome, StartOutcome(std::unexpected(row.error)));
        stopAndWait(supervisor);  // a failed start leaves the child to its owner
        EXPECT_TRUE(fatal_.empty());
        supervisor.reset();
        EXPECT_TRUE(testing::eventually(
            [&] { return !hasChildren() && openDescriptorCount() == descriptorsBefore; }));
    }
}

TEST_F(BackendSupervisorTest, ASecondStartFailsOnTheMainThreadOutsideTheLock) {
    auto supervisor = started("ready.js");
    std::optional<StartOutcome> again;
    std::optional<pid_t> pid;
    supervisor->start([&](StartOutcome outcome) {
        pid = supervisor->processIdentifier();  // would deadlock under the lock
        again = std::move(outcome);
    });
    EXPECT_FALSE(again.has_value()) << "completed on the caller's thread";
    ASSERT_TRUE(waitUntil([&] { return again.has_value(); }));
    EXPECT_EQ(*again, StartOutcome(std::unexpected(
                          BackendSupervisorError(BackendSupervisorError::Kind::alreadyStarted))));
    EXPECT_EQ(pid, supervisor->processIdentifier());
    stopAndWait(supervisor);
}

TEST_F(BackendSupervisorTest, AnExitAfterReadinessIsUnexpectedWhateverItsCode) {
    for (const auto& [name, code] : {std::pair{"ready-then-exit.sh", 0}, {"ready-at-exit.sh", 4}}) {
        SCOPED_TRACE(name);
        auto supervisor = make(fixture(name));
        EXPECT_EQ(startAndWait(supervisor), "http://127.0.0.1:8080/");
        // The first one leaves on any input, here a switch request: with the virtual clock
        // standing still, only the backend's going can answer it.
        EXPECT_EQ(switchAndWait(supervisor), kUnavailable);
        ASSERT_TRUE(waitUntil([&] { return !exits_.empty(); }));
        EXPECT_EQ(exits_, std::vector<int32_t>{code});
        EXPECT_EQ(supervisor->recordedExitCode(), code);
        stopAndWait(supervisor);
    }
}

TEST_F(BackendSupervisorTest, ReportsOnlyTheFirstProtocolFailureAfterReadiness) {
    auto supervisor = started("malformed-after-ready.sh");
    supervisor->clickerCommands()->write(ClickerDirection::left);
    ASSERT_TRUE(logged("[server] KELVRA_HUB_DESKTOP not json"));
    stopAndWait(supervisor);
    EXPECT_EQ(fatal_, std::vector<DesktopProtocolError>{
                          DesktopProtocolError::Kind::malformedClickerListener});
}

TEST_F(BackendSupervisorTest, AFloodOfOutputIsCountedRatherThanLoggedAndItsEventsStillCount) {
    // It prints 5,000 lines at once, then reports readiness.
    auto supervisor = started("flood-then-ready.js");
    stopAndWait(supervisor);
    const size_t logged = loggedAfter("[server] server warming up").size();
    size_t counted = 0;
    for (const auto& report : loggedAfter("[shell] ")) {
        if (report.find(" from the server were not logged") != std::string::npos) {
            counted += std::stoul(report);
        }
    }
    EXPECT_LT(logged, 1000u);
    EXPECT_GE(logged + counted, 5000u);
}

TEST_F(BackendSupervisorTest, WritesClickerCommandsAndConfirmsSwitchRequestsOnTheMainThread) {
    auto supervisor = make(fixture("ready.js"));
    std::vector<ClickerDistributorUpdateResult> results;
    supervisor->setCallbacks(
        {.onClickerDistributorUpdateResult = [&](const ClickerDistributorUpdateResult& result) {
            results.push_back(result);
        }});
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    supervisor->clickerCommands()->write(ClickerDirection::right);
    supervisor->clickerCommands()->write(ClickerCustomAction::displayStillImage10);
    supervisor->clickerCommands()->write(ClickerDirection::left);
    ASSERT_TRUE(logged(
        "[server] got {\"command\":\"clicker-key\",\"direction\":\"left\",\"consumed\":true}"));
    EXPECT_EQ(
        loggedAfter("[server] got "),
        (std::vector<std::string>{
            R"({"command":"clicker-key","direction":"right","consumed":true})",
            R"({"command":"clicker-action","action":"display-still-image-10","consumed":true})",
            R"({"command":"clicker-key","direction":"left","consumed":true})"}));

    std::vector<std::string> outcomes;
    bool onMainThread = true;
    auto record = [&](UpdateOutcome result) {
        onMainThread = onMainThread && mainThread_->isMainThread();
        outcomes.push_back(describe(result));
    };
    supervisor->setClickerDistributorEnabled(true, record);
    supervisor->setClickerDistributorEnabled(false, record);  // the fixture refuses this one
    ASSERT_TRUE(waitUntil([&] { return outcomes.size() == 2; }));
    std::sort(outcomes.begin(), outcomes.end());
    EXPECT_EQ(outcomes, (std::vector<std::string>{"The setting could not be saved.", "on"}));
    EXPECT_TRUE(onMainThread);
    stopAndWait(supervisor);
    EXPECT_EQ(results.size(), 2u);
    EXPECT_TRUE(log_->contains("[server] got {\"command\":\"shutdown\"}"));
}

TEST_F(BackendSupervisorTest, ABackendThatDoesNotReadLeavesRequestsUnansweredThenInputDropped) {
    auto supervisor = started("no-reading.js");
    std::optional<UpdateOutcome> unanswered;
    supervisor->setClickerDistributorEnabled(true,
                                             [&](UpdateOutcome result) { unanswered = result; });
    mainThread_->advance(5s);
    EXPECT_EQ(unanswered, UpdateOutcome(std::unexpected(
                              BackendSupervisorError::Kind::clickerDistributorUpdateTimeout)));
    // Pending when the backend goes: it fails then, without waiting out its time.
    std::optional<UpdateOutcome> pending;
    supervisor->setClickerDistributorEnabled(true, [&](UpdateOutcome result) { pending = result; });

    // Once the pipe is full, input is dropped; the drop is logged once.
    for (int index = 0; index < 5000; ++index) {
        supervisor->clickerCommands()->write(ClickerDirection::right);
    }
    // Written after every key, so its answer means all of them were tried.
    EXPECT_EQ(switchAndWait(supervisor), kUnavailable);
    EXPECT_EQ(log_->count("[shell] Dropped Clicker Distributor input because backend stdin is "
                          "backpressured. Further drops will not be logged."),
              1u);

    stopAndWait(supervisor);
    mainThread_->runPending();
    EXPECT_EQ(pending, kUnavailable);
    EXPECT_TRUE(log_->contains(
        "[shell] Graceful backend shutdown failed: Resource temporarily unavailable"));
    EXPECT_TRUE(log_->contains("[shell] Backend ignored graceful shutdown; sending SIGTERM."));
    EXPECT_EQ(supervisor->recordedExitCode(), 0);
}

TEST_F(BackendSupervisorTest, ABackendDyingUnderWritesCannotTakeTheApplicationWithIt) {
    auto supervisor = started("dies-on-input.js");
    testing::eventually([&] {
        supervisor->clickerCommands()->write(ClickerDirection::left);
        mainThread_->runPending();
        return !exits_.empty();
    });
    EXPECT_EQ(exits_, std::vector<int32_t>{5});
    stopAndWait(supervisor);
    for (const auto& line : loggedAfter("[shell] Dropped")) {
        EXPECT_TRUE(line.find("backend stdin is unavailable (errno 32)") != std::string::npos ||
                    line.find("backpressured") != std::string::npos)
            << line;
    }
}

TEST_F(BackendSupervisorTest, StopEscalatesOnlyAsFarAsNeeded) {
    const std::string sigterm = "graceful shutdown; sending SIGTERM.";
    const std::string sigkill = "SIGTERM; sending SIGKILL.";
    const struct {
        std::string fixture;
        std::vector<std::string> escalations;
        std::optional<int32_t> exitCode;
    } rows[] = {
        {"ready.js", {}, 0},
        {"ignore-shutdown.js", {sigterm}, 0},
        {"ignore-sigterm.js", {sigterm, sigkill}, std::nullopt},
        {"grandchild.sh", {}, 0},  // its worker must go with it
    };
    ASSERT_FALSE(hasChildren());
    const long descriptorsBefore = openDescriptorCount();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fixture);
        auto supervisor = started(row.fixture);
        std::vector<pid_t> workers;
        for (const auto& worker : loggedAfter("[server] worker=")) {
            workers.push_back(std::stoi(worker));
            EXPECT_FALSE(processIsGone(workers.back()));
        }
        EXPECT_EQ(workers.size(), row.fixture == "grandchild.sh" ? 1u : 0u);
        auto first = stop(supervisor);
        auto second = stop(supervisor);  // a concurrent stop only waits for the first
        ASSERT_TRUE(waitUntil([&] { return *first && *second; }));
        EXPECT_EQ(loggedAfter("[shell] Backend ignored "), row.escalations);
        EXPECT_EQ(supervisor->recordedExitCode(), row.exitCode);
        stopAndWait(supervisor);  // a second stop is harmless
        mainThread_->runPending();
        EXPECT_TRUE(exits_.empty());
        // However far it went, a stop leaves no descriptor or process behind.
        supervisor.reset();
        EXPECT_TRUE(testing::eventually([&] {
            return !hasChildren() && openDescriptorCount() == descriptorsBefore &&
                   std::ranges::all_of(workers, processIsGone);
        }));
    }
}

TEST_F(BackendSupervisorTest, AStopBeforeOrDuringStartupFailsTheStart) {
    ASSERT_FALSE(hasChildren());
    auto stopped = make(fixture("ready.js"));
    stopAndWait(stopped);
    // Stopped before it started, it never starts: no child is left that nothing would end.
    EXPECT_EQ(startAndWait(stopped),
              StartOutcome(std::unexpected(BackendSupervisorError::Kind::backendUnavailable)));
    EXPECT_EQ(stopped->processIdentifier(), std::nullopt);
    EXPECT_FALSE(hasChildren());

    auto starting = make(fixture("environment.sh"));
    auto outcome = start(starting);
    stopAndWait(starting);
    ASSERT_TRUE(waitUntil([&] { return outcome->has_value(); }));
    if (!**outcome) {  // the backend may have managed to report readiness first
        EXPECT_EQ((*outcome)->error(), BackendStartError(BackendSupervisorError::earlyExit(0)));
    }
    EXPECT_EQ(starting->recordedExitCode(), 0);
}

TEST_F(BackendSupervisorTest, AReadinessAfterAFailedStartChangesNothing) {
    for (const bool timedOut : {true, false}) {
        SCOPED_TRACE(timedOut ? "after the startup deadline" : "after a protocol failure");
        testing::TemporaryDirectory workingDirectory;
        auto launchInfo = fixture(timedOut ? "late-ready.sh" : "garbled-then-ready.sh");
        launchInfo.workingDirectory = workingDirectory.path();
        auto supervisor = make(launchInfo);
        auto outcome = start(supervisor);
        if (timedOut) {
            ASSERT_TRUE(logged("[server] waiting"));
            mainThread_->advance(10s);
            testing::writeFile(workingDirectory.path() / "gate", "");
        }
        ASSERT_TRUE(logged(
            R"([server] KELVRA_HUB_DESKTOP {"event":"ready","url":"http://127.0.0.1:8080/"})"));
        ASSERT_TRUE(waitUntil([&] { return outcome->has_value(); }));
        EXPECT_FALSE(outcome->value().has_value());

        // A running backend would take the key, leave on it and be reported as gone.
        supervisor->clickerCommands()->write(ClickerDirection::left);
        EXPECT_EQ(switchAndWait(supervisor), kUnavailable);
        stopAndWait(supervisor);
        mainThread_->runPending();
        EXPECT_TRUE(log_->contains(R"([server] got {"command":"shutdown"})"));
        EXPECT_TRUE(exits_.empty());
    }
}

TEST_F(BackendSupervisorTest, ReleasingARunningSupervisorLeavesTheStopToItsOwnThread) {
    ASSERT_FALSE(hasChildren());
    const long descriptorsBefore = openDescriptorCount();
    auto timeouts = kQuickTimeouts;
    timeouts.terminate = 3s;  // the child ignores SIGTERM: the stop takes this long
    auto supervisor = make(fixture("ignore-sigterm.js"), {}, timeouts);
    EXPECT_TRUE(startAndWait(supervisor).has_value());
    const pid_t pid = *supervisor->processIdentifier();

    const auto released = std::chrono::steady_clock::now();
    supervisor.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - released, 1500ms)
        << "the release waited for the child";

    EXPECT_TRUE(testing::eventually([&] { return processIsGone(pid); }));
    EXPECT_TRUE(log_->waitFor("[shell] Backend ignored SIGTERM; sending SIGKILL."));
    // The main thread reaps the child and closes the pipes when it sees the child go.
    EXPECT_TRUE(
        waitUntil([&] { return !hasChildren() && openDescriptorCount() == descriptorsBefore; }));
}

}  // namespace
}  // namespace kelvra
