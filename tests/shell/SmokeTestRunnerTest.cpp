// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "shell/SmokeTestRunner.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(KELVRA_TEST_SOURCE_DIR) / "tests/shell/fixtures";

TEST(SmokeTestRunnerTest, PassesOnlyForTheProductPageAndACleanExit) {
    const struct {
        std::string fixture;
        int32_t status;
        std::string logLine;
    } rows[] = {
        {"healthy.js", 0, "[smoke] Portable Kelvra Hub smoke test passed."},
        {"not-found.js", 1, "[smoke] SmokeTestError.unsuccessfulResponse"},
        {"server-error.js", 1, "[smoke] SmokeTestError.unsuccessfulResponse"},
        {"no-marker.js", 1, "[smoke] SmokeTestError.missingProductPage"},
        {"invalid-utf8-page.js", 1, "[smoke] SmokeTestError.missingProductPage"},
        {"unclean-exit.js", 1, "[smoke] SmokeTestError.uncleanExit(1)"},
        {"unstoppable.js", 1, "[smoke] SmokeTestError.uncleanExit(nil)"},
        {"missing.js", 1, "[smoke] BackendSupervisorError.earlyExit(1)"},
    };
    BackendSupervisorTimeouts timeouts;
    timeouts.shutdown = 300ms;
    timeouts.terminate = 300ms;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fixture);
        testing::TemporaryDirectory logs;
        const BackendLaunchInfo launchInfo{KELVRA_TEST_NODE, kFixtures / row.fixture, kFixtures,
                                           false};
        EXPECT_EQ(SmokeTestRunner::run(launchInfo, logs.path(), timeouts), row.status);
        const auto lines = testing::readLines(logs.path() / "kelvra-hub.log");
        ASSERT_FALSE(lines.empty());
        const std::string& last = lines.back();
        EXPECT_EQ(last.substr(last.find(" [") + 1), row.logLine);
    }
}

TEST(SmokeTestRunnerTest, ABackendThatNeverAnswersFailsAtTheDeadline) {
    testing::TemporaryDirectory logs;
    BackendSupervisorTimeouts timeouts;
    timeouts.startup = 500ms;
    timeouts.shutdown = 300ms;
    const BackendLaunchInfo launchInfo{
        "/bin/sh", fs::path(KELVRA_TEST_SOURCE_DIR) / "tests/backend/fixtures/never-ready.sh",
        kFixtures, false};
    EXPECT_EQ(SmokeTestRunner::run(launchInfo, logs.path(), timeouts), 1);
    const auto lines = testing::readLines(logs.path() / "kelvra-hub.log");
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().ends_with("[smoke] BackendSupervisorError.startupTimeout(0.5)"))
        << lines.back();
}

TEST(SmokeTestRunnerTest, ALogThatCannotBeOpenedFailsWithoutStartingAnything) {
    testing::TemporaryDirectory directory;
    testing::writeFile(directory.path() / "file", "");
    const BackendLaunchInfo launchInfo{KELVRA_TEST_NODE, kFixtures / "healthy.js", kFixtures,
                                       false};
    EXPECT_EQ(SmokeTestRunner::run(launchInfo, directory.path() / "file" / "logs"), 1);
}

}  // namespace
}  // namespace kelvra
