// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "backend/SmokeTestRunner.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const fs::path kSmokeFixtures = fs::path(KELVRA_TEST_SOURCE_DIR) / "tests/backend/fixtures";

TEST(SmokeTestRunnerTest, PassesOnlyForTheProductPageAndACleanExit) {
    const fs::path neverReady = kSmokeFixtures / "never-ready.sh";
    const struct {
        fs::path fixture;
        int32_t status;
        std::string logLine;
    } rows[] = {
        {kSmokeFixtures / "healthy.js", 0, "[smoke] Portable Kelvra Hub smoke test passed."},
        {kSmokeFixtures / "not-found.js", 1, "[smoke] SmokeTestError.unsuccessfulResponse"},
        {kSmokeFixtures / "server-error.js", 1, "[smoke] SmokeTestError.unsuccessfulResponse"},
        {kSmokeFixtures / "no-marker.js", 1, "[smoke] SmokeTestError.missingProductPage"},
        {kSmokeFixtures / "invalid-utf8-page.js", 1, "[smoke] SmokeTestError.missingProductPage"},
        {kSmokeFixtures / "unclean-exit.js", 1, "[smoke] SmokeTestError.uncleanExit(1)"},
        {kSmokeFixtures / "unstoppable.js", 1, "[smoke] SmokeTestError.uncleanExit(nil)"},
        {kSmokeFixtures / "missing.js", 1, "[smoke] BackendSupervisorError.earlyExit(1)"},
        {neverReady, 1, "[smoke] BackendSupervisorError.startupTimeout(0.5)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fixture.filename());
        // Only the backend that never answers meets the short deadline.
        const BackendSupervisorTimeouts timeouts{.startup = row.fixture == neverReady ? 500ms : 15s,
                                                 .shutdown = 300ms,
                                                 .terminate = 300ms};
        testing::TemporaryDirectory logs;
        const fs::path runtime = row.fixture == neverReady ? "/bin/sh" : KELVRA_TEST_NODE;
        const BackendLaunchInfo launchInfo{runtime, row.fixture, kSmokeFixtures, false};
        EXPECT_EQ(SmokeTestRunner::run(launchInfo, logs.path(), timeouts), row.status);
        const auto lines = testing::readLines(logs.path() / "kelvra-hub.log");
        ASSERT_FALSE(lines.empty());
        const std::string& last = lines.back();
        EXPECT_EQ(last.substr(last.find(" [") + 1), row.logLine);
    }
}

TEST(SmokeTestRunnerTest, ALogThatCannotBeOpenedFailsWithoutStartingAnything) {
    testing::TemporaryDirectory directory;
    testing::writeFile(directory.path() / "file", "");
    const BackendLaunchInfo launchInfo{KELVRA_TEST_NODE, kSmokeFixtures / "healthy.js",
                                       kSmokeFixtures, false};
    EXPECT_EQ(SmokeTestRunner::run(launchInfo, directory.path() / "file" / "logs"), 1);
}

}  // namespace
}  // namespace kelvra
