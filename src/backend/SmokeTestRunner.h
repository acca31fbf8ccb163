// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "backend/BackendLaunchInfo.h"
#include "backend/BackendSupervisor.h"

namespace kelvra {

/// Why the self-test failed after the backend started.
class SmokeTestError {
public:
    enum class Kind { uncleanExit, unsuccessfulResponse, missingProductPage };

    static SmokeTestError uncleanExit(std::optional<int32_t> code);
    SmokeTestError(Kind kind) : kind_(kind) {}

    Kind kind() const { return kind_; }
    std::string description() const;
    std::string diagnosticDescription() const;

private:
    Kind kind_;
    std::optional<int32_t> code_;
};

/// The self-test of "--smoke-test": start the packaged backend as the application would, fetch
/// its control page, check that it is the product's page, stop the backend and check that it
/// left cleanly. Logs its result; needs no display and takes no instance lock.
namespace SmokeTestRunner {

/// Runs the test to its end and returns the exit status: 0 on success, 1 on any failure. Like
/// every supervisor's owner, the caller has set SIGPIPE to be ignored.
int32_t run(const BackendLaunchInfo& launchInfo, const std::filesystem::path& logDirectory,
            BackendSupervisorTimeouts timeouts = {});

}  // namespace SmokeTestRunner
}  // namespace kelvra
