// SPDX-License-Identifier: MIT
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

#include "clicker/linux/SessionLockWatch.h"
#include "support/SpawnedProcess.h"
#include "support/TestSupport.h"

namespace kelvra {

// Found by the test framework next to the type it prints.
[[maybe_unused]] static void PrintTo(const SessionState& state, std::ostream* out) {
    *out << (state.locked ? "locked" : "unlocked") << (state.active ? " active" : " away");
}

namespace {

using testing::SpawnedProcess;
using namespace std::chrono_literals;
using States = std::vector<SessionState>;
const std::map<std::string, std::string> kNoEnvironment;

constexpr SessionState kUnlocked{.locked = false, .active = true};
constexpr SessionState kLocked{.locked = true, .active = true};
constexpr SessionState kAway{.locked = false, .active = false};

/// A bus like the system's, with logind's stand-in and another account on it.
class LogindSessionLockWatchTest : public ::testing::Test {
protected:
    LogindSessionLockWatchTest() {
        testing::writeFile(directory.path() / "bus.conf",
                           "<busconfig><type>system</type><listen>" + address +
                               "</listen><policy context=\"default\"><allow "
                               "send_destination=\"*\" eavesdrop=\"true\"/><allow "
                               "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
    }

    void startBus() {
        bus.emplace(
            KELVRA_TEST_DBUS_DAEMON,
            std::vector<std::string>{"--nofork", "--print-address",
                                     "--config-file=" + (directory.path() / "bus.conf").string()},
            kNoEnvironment);
        ASSERT_TRUE(bus->readLine(20s));  // listening once it says where
    }

    /// The stand-in's arguments for `command` on our bus.
    std::vector<std::string> standIn(std::vector<std::string> command) const {
        command.insert(command.begin(),
                       {KELVRA_TEST_SOURCE_DIR "/tests/clicker/linux/logind_stand_in.py", address});
        return command;
    }

    void startLogind() {
        logind.emplace(KELVRA_TEST_SYSTEM_PYTHON, standIn({"serve"}), kNoEnvironment);
        ASSERT_EQ(logind->readLine(20s), "ready");
    }

    static void stop(std::optional<SpawnedProcess>& process) {
        process->kill(SIGKILL);
        process->wait(20s);
        process.reset();
    }

    /// What the watch reports until `count` states came or `done` holds; 20 seconds at most.
    States statesUntil(size_t count, const std::function<bool()>& done = {}) {
        States seen;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (seen.size() < count && !(done && done()) &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd entry{watch->descriptor(), POLLIN, 0};
            ::poll(&entry, 1, 50);
            for (const SessionState& state : watch->process()) {
                seen.push_back(state);
            }
        }
        return seen;
    }

    States changeTo(SessionState state) {
        const auto flag = [](bool value) { return value ? "1" : "0"; };
        SpawnedProcess setter(KELVRA_TEST_SYSTEM_PYTHON,
                              standIn({"set", flag(state.locked), flag(state.active)}),
                              kNoEnvironment);
        EXPECT_EQ(setter.wait(20s), 0);
        return statesUntil(1);
    }

    /// What the watch reports until it has taken in everything another account sent it.
    States forge() {
        SpawnedProcess forger(KELVRA_TEST_SYSTEM_PYTHON, standIn({"forge"}), kNoEnvironment);
        bool done = false;
        States seen = statesUntil(SIZE_MAX, [&] { return done = forger.readLine(0ms) == "done"; });
        EXPECT_TRUE(done);
        return seen;
    }

    testing::TemporaryDirectory directory;
    const std::string address = "unix:path=" + (directory.path() / "bus").string();
    std::optional<SpawnedProcess> bus;
    std::optional<SpawnedProcess> logind;
    std::unique_ptr<SessionLockWatch> watch;
};

TEST_F(LogindSessionLockWatchTest, BelievesLogindAloneAndReadsEachChangeBackFromIt) {
    startBus();
    startLogind();
    watch = makeLogindSessionLockWatch({.busAddress = address});
    ASSERT_GE(watch->descriptor(), 0);
    EXPECT_EQ(watch->state(), kUnlocked);
    EXPECT_EQ(forge(), States{});
    for (const SessionState state : {kLocked, kAway, SessionState{true, false}, kUnlocked}) {
        EXPECT_EQ(changeTo(state), States{state});
    }
    EXPECT_EQ(forge(), States{});
    EXPECT_EQ(watch->state(), kUnlocked);
}

TEST_F(LogindSessionLockWatchTest, IsAtTheSeatWithoutLogindAndAwayOnceLogindOrTheBusIsLost) {
    // No bus, or no logind on it, from the start (a container): the listener works all the same.
    for (const bool withBus : {false, true}) {
        if (withBus) {
            startBus();
        }
        watch = makeLogindSessionLockWatch({.busAddress = address});
        EXPECT_EQ(watch->descriptor(), -1);
        EXPECT_EQ(watch->state(), kUnlocked);
    }
    // Once followed, logind going away means the session is away.
    startLogind();
    watch = makeLogindSessionLockWatch(
        {.busAddress = address, .firstRetry = 5ms, .longestRetry = 40ms});
    stop(logind);
    EXPECT_EQ(statesUntil(1), States{kAway});
    startLogind();
    EXPECT_EQ(statesUntil(1), States{kUnlocked});

    // The bus fails: the watch connects again once it is back, and follows logind there.
    EXPECT_EQ(changeTo(kLocked), States{kLocked});
    stop(bus);
    EXPECT_EQ(statesUntil(1), States{kAway});
    stop(logind);
    startBus();
    startLogind();
    EXPECT_EQ(statesUntil(1), States{kUnlocked});
    EXPECT_EQ(changeTo(kLocked), States{kLocked});
}

}  // namespace
}  // namespace kelvra
