// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kelvra {

/// Why an update check found nothing to offer. Each kind has a stable numeric code; 1001 means
/// that the check worked and no newer version exists, every other code is a failure.
class UpdaterError {
public:
    enum class Kind {
        malformedFeed = 1000,
        noUpdateFound = 1001,
        feedUnavailable = 1002,
        missingFeedField = 1003,
        invalidFeedField = 1004,
        feedTimeout = 1005,
        networkFailure = 1006,
        invalidFeedAddress = 1007,
    };

    static constexpr int32_t kNoUpdateFoundCode = 1001;

    /// The feed's body is not a JSON object (or too large to be one of ours).
    static UpdaterError malformedFeed(std::string feedURL, std::string detail);
    /// `installedVersion` is the running version; `reason`, when given, replaces the standard
    /// text (for example for an update that needs a newer system).
    static UpdaterError noUpdateFound(std::string installedVersion, std::string reason = {});
    static UpdaterError feedUnavailable(std::string feedURL, long httpStatus);
    static UpdaterError missingFeedField(std::string feedURL, std::string field);
    static UpdaterError invalidFeedField(std::string feedURL, std::string field, std::string value);
    static UpdaterError feedTimeout(std::string feedURL, std::chrono::milliseconds timeout);
    static UpdaterError networkFailure(std::string feedURL, std::string reason);
    static UpdaterError invalidFeedAddress(std::string feedURL);

    Kind kind() const { return kind_; }
    int32_t code() const { return static_cast<int32_t>(kind_); }

    /// The localized description: a sentence the user can read.
    std::string description() const;
    std::string diagnosticDescription() const;

    friend bool operator==(const UpdaterError&, const UpdaterError&) = default;

private:
    UpdaterError(Kind kind, std::string subject) : kind_(kind), subject_(std::move(subject)) {}

    Kind kind_;
    /// The feed address, or the installed version for `noUpdateFound`.
    std::string subject_;
    std::string detail_;
    std::string value_;
    long number_ = 0;
};

}  // namespace kelvra
