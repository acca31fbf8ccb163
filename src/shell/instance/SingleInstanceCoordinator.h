// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "core/PrivateDirectory.h"
#include "shell/instance/DistributedNotificationCenter.h"

namespace kelvra {

/// Why the per-user instance lock could not be taken.
class SingleInstanceError {
public:
    enum class Kind { cannotCreateDirectory, unsafeDirectory, cannotOpenLock, cannotLock };

    static SingleInstanceError cannotCreateDirectory(std::filesystem::path directory,
                                                     int errorNumber);
    static SingleInstanceError unsafeDirectory(std::filesystem::path directory,
                                               DirectoryProblem problem);
    static SingleInstanceError cannotOpenLock(std::filesystem::path lockFile, int errorNumber);
    static SingleInstanceError cannotLock(std::filesystem::path lockFile, int32_t errorNumber);

    Kind kind() const { return kind_; }
    /// The lock file, or its directory for the first two kinds.
    const std::filesystem::path& path() const { return path_; }
    int32_t errorNumber() const { return errorNumber_; }

    std::string description() const;
    std::string diagnosticDescription() const;

private:
    SingleInstanceError(Kind kind, std::filesystem::path path, int32_t errorNumber)
        : kind_(kind), path_(std::move(path)), errorNumber_(errorNumber) {}

    Kind kind_;
    std::filesystem::path path_;
    int32_t errorNumber_;
    std::optional<DirectoryProblem> problem_;
};

/// Keeps the application to one instance per user: the process holding an exclusive `flock` on
/// "kelvra-hub.lock" is primary and observes the open-request notification, by which a later
/// launch asks it to bring up its control page. The system releases the lock when the process
/// ends in any way, so a crashed instance never blocks the next launch.
///
/// Everything but creation runs on the main thread; the notification centre delivers requests
/// there.
class SingleInstanceCoordinator : public std::enable_shared_from_this<SingleInstanceCoordinator> {
public:
    using CreationError = std::variant<SingleInstanceError, NotificationCenterError>;

    /// Called for an open request with the XDG activation token the second launch was started
    /// with, if any, so that the window it raises may take the focus.
    using OpenHandler = std::function<void(std::optional<std::string> activationToken)>;

    static constexpr const char* kLockFileName = "kelvra-hub.lock";

    /// "$XDG_DATA_HOME/Morvane/Kelvra Hub", fixed at first use.
    static const std::filesystem::path& defaultDirectory();
    /// `kAppIdentifierPrefix` + ".open-request." + the real user id in decimal, so instances of
    /// different users never see each other's requests.
    static const std::string& defaultNotificationIdentifier();

    /// Creates `directory` when missing (owner-only), refuses it when another user owns it or
    /// others may write to it, verifies the centre's directory, then takes the lock without
    /// waiting. The primary starts observing `notificationIdentifier` on `center`. Another
    /// process holding the lock is no failure: the result is then secondary.
    static std::expected<std::shared_ptr<SingleInstanceCoordinator>, CreationError> create(
        const std::filesystem::path& directory, const std::string& notificationIdentifier,
        std::shared_ptr<DistributedNotificationCenter> center);

    /// Stops observing, then releases and closes the lock.
    ~SingleInstanceCoordinator();
    SingleInstanceCoordinator(const SingleInstanceCoordinator&) = delete;
    SingleInstanceCoordinator& operator=(const SingleInstanceCoordinator&) = delete;

    bool isPrimary() const { return isPrimary_; }
    const std::string& notificationName() const { return notificationName_; }
    const std::filesystem::path& lockFile() const { return lockFile_; }

    /// Stores the handler for open requests; when a request arrived before, calls it once, now.
    /// Only for the primary: on a secondary this is a programming error and does nothing.
    void installOpenHandler(OpenHandler handler);

    /// One open request, as the notification centre delivers it. A secondary ignores it;
    /// requests before a handler exists merge into one, with the latest token given.
    void receiveOpenRequest(std::optional<std::string> activationToken = std::nullopt);

private:
    SingleInstanceCoordinator(std::shared_ptr<DistributedNotificationCenter> center,
                              std::string notificationName, std::filesystem::path lockFile)
        : center_(std::move(center)),
          notificationName_(std::move(notificationName)),
          lockFile_(std::move(lockFile)) {}

    bool isPrimary_ = false;
    const std::shared_ptr<DistributedNotificationCenter> center_;
    const std::string notificationName_;
    const std::filesystem::path lockFile_;
    int lockDescriptor_ = -1;
    OpenHandler openHandler_;
    bool pendingOpen_ = false;
    std::optional<std::string> pendingActivationToken_;
    std::unique_ptr<DistributedNotificationCenter::Observation> observation_;
};

}  // namespace kelvra
