// SPDX-License-Identifier: MIT
#include "shell/updates/UpdaterError.h"

#include "core/Error.h"

namespace kelvra {

UpdaterError UpdaterError::malformedFeed(std::string feedURL, std::string detail) {
    UpdaterError error(Kind::malformedFeed, std::move(feedURL));
    error.detail_ = std::move(detail);
    return error;
}

UpdaterError UpdaterError::noUpdateFound(std::string installedVersion, std::string reason) {
    UpdaterError error(Kind::noUpdateFound, std::move(installedVersion));
    error.detail_ = std::move(reason);
    return error;
}

UpdaterError UpdaterError::feedUnavailable(std::string feedURL, long httpStatus) {
    UpdaterError error(Kind::feedUnavailable, std::move(feedURL));
    error.number_ = httpStatus;
    return error;
}

UpdaterError UpdaterError::missingFeedField(std::string feedURL, std::string field) {
    UpdaterError error(Kind::missingFeedField, std::move(feedURL));
    error.detail_ = std::move(field);
    return error;
}

UpdaterError UpdaterError::invalidFeedField(std::string feedURL, std::string field,
                                            std::string value) {
    UpdaterError error(Kind::invalidFeedField, std::move(feedURL));
    error.detail_ = std::move(field);
    error.value_ = std::move(value);
    return error;
}

UpdaterError UpdaterError::feedTimeout(std::string feedURL, std::chrono::milliseconds timeout) {
    UpdaterError error(Kind::feedTimeout, std::move(feedURL));
    error.number_ = static_cast<long>(timeout.count());
    return error;
}

UpdaterError UpdaterError::networkFailure(std::string feedURL, std::string reason) {
    UpdaterError error(Kind::networkFailure, std::move(feedURL));
    error.detail_ = std::move(reason);
    return error;
}

UpdaterError UpdaterError::invalidFeedAddress(std::string feedURL) {
    return UpdaterError(Kind::invalidFeedAddress, std::move(feedURL));
}

std::string UpdaterError::description() const {
    switch (kind_) {
        case Kind::malformedFeed:
            return "The update information at " + subject_ + " could not be read: " + detail_ + ".";
        case Kind::noUpdateFound:
            if (!detail_.empty()) {
                return detail_;
            }
            return "You’re up to date. Kelvra Hub " + subject_ +
                   " is currently the newest version available.";
        case Kind::feedUnavailable:
            return "The update information could not be downloaded from " + subject_ +
                   " (HTTP status " + std::to_string(number_) + ").";
        case Kind::missingFeedField:
            return "The update information at " + subject_ + " lacks the field \"" + detail_ +
                   "\".";
        case Kind::invalidFeedField:
            return "The update information at " + subject_ + " has an invalid \"" + detail_ +
                   "\": " + value_ + ".";
        case Kind::feedTimeout: {
            const long seconds = (number_ + 999) / 1000;
            return "The update server at " + subject_ + " did not answer within " +
                   std::to_string(seconds) + (seconds == 1 ? " second." : " seconds.");
        }
        case Kind::networkFailure:
            return "The update information could not be downloaded from " + subject_ + ": " +
                   detail_ + ".";
        case Kind::invalidFeedAddress:
            return "The update feed address \"" + subject_ + "\" is not an http or https address.";
    }
    return {};
}

std::string UpdaterError::diagnosticDescription() const {
    const std::string subject = quoted(subject_);
    const std::string code = std::to_string(this->code());
    switch (kind_) {
        case Kind::malformedFeed:
            return "UpdaterError.malformedFeed(" + code + ", " + subject + ", " + quoted(detail_) +
                   ")";
        case Kind::noUpdateFound:
            return "UpdaterError.noUpdateFound(" + code + ", " + subject + ", " + quoted(detail_) +
                   ")";
        case Kind::feedUnavailable:
            return "UpdaterError.feedUnavailable(" + code + ", " + subject + ", HTTP " +
                   std::to_string(number_) + ")";
        case Kind::missingFeedField:
            return "UpdaterError.missingFeedField(" + code + ", " + subject + ", " +
                   quoted(detail_) + ")";
        case Kind::invalidFeedField:
            return "UpdaterError.invalidFeedField(" + code + ", " + subject + ", " +
                   quoted(detail_) + ", " + quoted(value_) + ")";
        case Kind::feedTimeout:
            return "UpdaterError.feedTimeout(" + code + ", " + subject + ", " +
                   std::to_string(number_) + " ms)";
        case Kind::networkFailure:
            return "UpdaterError.networkFailure(" + code + ", " + subject + ", " + quoted(detail_) +
                   ")";
        case Kind::invalidFeedAddress:
            return "UpdaterError.invalidFeedAddress(" + code + ", " + subject + ")";
    }
    return {};
}

}  // namespace kelvra
