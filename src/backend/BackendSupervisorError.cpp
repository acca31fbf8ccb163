// SPDX-License-Identifier: MIT
#include "backend/BackendSupervisorError.h"

#include <cstdio>
#include <cstring>

#include "core/Error.h"

namespace kelvra {

BackendSupervisorError BackendSupervisorError::launchFailed(std::filesystem::path executable,
                                                            int errorNumber) {
    BackendSupervisorError error(Kind::launchFailed);
    error.executable_ = std::move(executable);
    error.errorNumber_ = errorNumber;
    return error;
}

BackendSupervisorError BackendSupervisorError::startupTimeout(double seconds) {
    BackendSupervisorError error(Kind::startupTimeout);
    error.seconds_ = seconds;
    return error;
}

BackendSupervisorError BackendSupervisorError::earlyExit(int32_t status) {
    BackendSupervisorError error(Kind::earlyExit);
    error.status_ = status;
    return error;
}

BackendSupervisorError BackendSupervisorError::clickerDistributorUpdateFailed(std::string message) {
    BackendSupervisorError error(Kind::clickerDistributorUpdateFailed);
    error.message_ = std::move(message);
    return error;
}

std::string BackendSupervisorError::description() const {
    switch (kind_) {
        case Kind::launchFailed:
            return "Kelvra Hub could not launch its server " + executable_.string() + ": " +
                   errorText(errorNumber_) + ".";
        case Kind::startupTimeout:
            return "The Kelvra Hub server did not become ready within " +
                   std::to_string(static_cast<int64_t>(seconds_)) + " seconds.";
        case Kind::earlyExit:
            return "The Kelvra Hub server exited with code " + std::to_string(status_) +
                   " before it was ready.";
        case Kind::clickerDistributorUpdateFailed:
            return message_;
        case Kind::alreadyStarted:
            return "The Kelvra Hub backend has already been started.";
        case Kind::invalidClickerDistributorCommand:
            return "The Clicker Distributor command was invalid.";
        case Kind::backendUnavailable:
            return "The Kelvra Hub server is unavailable.";
        case Kind::clickerDistributorUpdateTimeout:
            return "The Kelvra Hub server did not confirm the Clicker Distributor update.";
    }
    return {};
}

std::string BackendSupervisorError::diagnosticDescription() const {
    switch (kind_) {
        case Kind::launchFailed:
            return "BackendSupervisorError.launchFailed(" + quoted(executable_.string()) +
                   ", errno " + std::to_string(errorNumber_) + ")";
        case Kind::startupTimeout: {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", seconds_);
            return std::string("BackendSupervisorError.startupTimeout(") + seconds + ")";
        }
        case Kind::earlyExit:
            return "BackendSupervisorError.earlyExit(" + std::to_string(status_) + ")";
        case Kind::clickerDistributorUpdateFailed:
            return "BackendSupervisorError.clickerDistributorUpdateFailed(" + quoted(message_) +
                   ")";
        case Kind::alreadyStarted:
            return "BackendSupervisorError.alreadyStarted";
        case Kind::invalidClickerDistributorCommand:
            return "BackendSupervisorError.invalidClickerDistributorCommand";
        case Kind::backendUnavailable:
            return "BackendSupervisorError.backendUnavailable";
        case Kind::clickerDistributorUpdateTimeout:
            return "BackendSupervisorError.clickerDistributorUpdateTimeout";
    }
    return {};
}

}  // namespace kelvra
