// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kelvra {

/// Why the backend could not be started or a command could not be carried out.
class BackendSupervisorError {
public:
    enum class Kind {
        launchFailed,
        startupTimeout,
        earlyExit,
        clickerDistributorUpdateFailed,
        alreadyStarted,
        invalidClickerDistributorCommand,
        backendUnavailable,
        clickerDistributorUpdateTimeout,
    };

    /// The runtime could not be started; `errorNumber` is the errno of the failed step.
    static BackendSupervisorError launchFailed(std::filesystem::path executable, int errorNumber);
    static BackendSupervisorError startupTimeout(double seconds);
    static BackendSupervisorError earlyExit(int32_t status);
    static BackendSupervisorError clickerDistributorUpdateFailed(std::string message);
    BackendSupervisorError(Kind kind) : kind_(kind) {}

    Kind kind() const { return kind_; }
    std::string description() const;
    std::string diagnosticDescription() const;

    friend bool operator==(const BackendSupervisorError&, const BackendSupervisorError&) = default;

private:
    Kind kind_;
    std::filesystem::path executable_;
    int errorNumber_ = 0;
    double seconds_ = 0;
    int32_t status_ = 0;
    std::string message_;
};

}  // namespace kelvra
