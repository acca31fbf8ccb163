// SPDX-License-Identifier: MIT
#include "shell/instance/SingleInstanceCoordinator.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

#include "core/AppIdentity.h"
#include "core/Environment.h"
#include "core/Error.h"
#include "core/XdgPaths.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;

/// Others must not be able to replace the lock file, which would let a second instance in.
constexpr mode_t kForbiddenLockDirectoryBits = 0022;

}  // namespace

SingleInstanceError SingleInstanceError::cannotCreateDirectory(fs::path directory,
                                                               int errorNumber) {
    return SingleInstanceError(Kind::cannotCreateDirectory, std::move(directory), errorNumber);
}

SingleInstanceError SingleInstanceError::unsafeDirectory(fs::path directory,
                                                         DirectoryProblem problem) {
    SingleInstanceError error(Kind::unsafeDirectory, std::move(directory), 0);
    error.problem_ = problem;
    return error;
}

SingleInstanceError SingleInstanceError::cannotOpenLock(fs::path lockFile, int errorNumber) {
    return SingleInstanceError(Kind::cannotOpenLock, std::move(lockFile), errorNumber);
}

SingleInstanceError SingleInstanceError::cannotLock(fs::path lockFile, int32_t errorNumber) {
    return SingleInstanceError(Kind::cannotLock, std::move(lockFile), errorNumber);
}

std::string SingleInstanceError::description() const {
    const std::string path = path_.string();
    switch (kind_) {
        case Kind::cannotCreateDirectory:
            return "Kelvra Hub could not create the folder " + path + ": " +
                   errorText(errorNumber_) + ".";
        case Kind::unsafeDirectory:
            return "Kelvra Hub will not keep its instance lock in " + path + " because " +
                   problem_->explanation() + ".";
        case Kind::cannotOpenLock:
            return "Kelvra Hub could not open its per-user instance lock at " + path + ".";
        case Kind::cannotLock:
            return "Kelvra Hub could not lock " + path + " (error " + std::to_string(errorNumber_) +
                   ").";
    }
    return {};
}

std::string SingleInstanceError::diagnosticDescription() const {
    const std::string path = quoted(path_.string());
    switch (kind_) {
        case Kind::cannotCreateDirectory:
            return "SingleInstanceError.cannotCreateDirectory(" + path + ", errno " +
                   std::to_string(errorNumber_) + ": " + errorText(errorNumber_) + ")";
        case Kind::unsafeDirectory:
            return "SingleInstanceError.unsafeDirectory(" + path + ", " +
                   problem_->diagnosticDescription() + ")";
        case Kind::cannotOpenLock:
            return "SingleInstanceError.cannotOpenLock(" + path + ", errno " +
                   std::to_string(errorNumber_) + ": " + errorText(errorNumber_) + ")";
        case Kind::cannotLock:
            return "SingleInstanceError.cannotLock(" + path + ", " + std::to_string(errorNumber_) +
                   ")";
    }
    return {};
}

const fs::path& SingleInstanceCoordinator::defaultDirectory() {
    static const fs::path directory =
        XdgPaths::applicationDirectory(XdgPaths::dataHome(currentEnvironment()));
    return directory;
}

const std::string& SingleInstanceCoordinator::defaultNotificationIdentifier() {
    static const std::string identifier =
        appIdentifier(".open-request." + std::to_string(::getuid()));
    return identifier;
}

std::expected<std::shared_ptr<SingleInstanceCoordinator>, SingleInstanceCoordinator::CreationError>
SingleInstanceCoordinator::create(const fs::path& directory,
                                  const std::string& notificationIdentifier,
                                  std::shared_ptr<DistributedNotificationCenter> center) {
    std::shared_ptr<SingleInstanceCoordinator> coordinator(new SingleInstanceCoordinator(
        std::move(center), notificationIdentifier, directory / kLockFileName));

    if (const int error = createPrivateDirectories(directory); error != 0) {
        return std::unexpected(SingleInstanceError::cannotCreateDirectory(directory, error));
    }
    if (auto checked = openPrivateDirectory(directory, kForbiddenLockDirectoryBits); !checked) {
        return std::unexpected(SingleInstanceError::unsafeDirectory(directory, checked.error()));
    }
    // Checked before the lock, so that a secondary refuses an unsafe place to post to as well.
    if (auto verified = coordinator->center_->verifyDirectory(); !verified) {
        return std::unexpected(verified.error());
    }

    // Close-on-exec keeps the lock from being inherited by the backend, which could outlive us.
    const int descriptor =
        ::open(coordinator->lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        return std::unexpected(SingleInstanceError::cannotOpenLock(coordinator->lockFile_, errno));
    }
    coordinator->lockDescriptor_ = descriptor;

    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int lockError = errno;
        if (lockError == EWOULDBLOCK) {
            return coordinator;
        }
        ::close(descriptor);
        coordinator->lockDescriptor_ = -1;
        return std::unexpected(SingleInstanceError::cannotLock(coordinator->lockFile_, lockError));
    }
    coordinator->isPrimary_ = true;

    auto observation = coordinator->center_->addObserver(
        coordinator->notificationName_,
        [weak = std::weak_ptr(coordinator)](std::optional<std::string> activationToken) {
            if (const auto self = weak.lock()) {
                self->receiveOpenRequest(std::move(activationToken));
            }
        });
    if (!observation) {
        return std::unexpected(observation.error());
    }
    coordinator->observation_ = std::move(*observation);
    return coordinator;
}

SingleInstanceCoordinator::~SingleInstanceCoordinator() {
    observation_.reset();
    if (lockDescriptor_ >= 0) {
        if (isPrimary_) {
            ::flock(lockDescriptor_, LOCK_UN);
        }
        ::close(lockDescriptor_);
    }
}

void SingleInstanceCoordinator::installOpenHandler(OpenHandler handler) {
    assert(isPrimary_ && "only the primary instance handles open requests");
    if (!isPrimary_) {
        return;
    }
    openHandler_ = std::move(handler);
    if (pendingOpen_ && openHandler_) {
        pendingOpen_ = false;
        openHandler_(std::exchange(pendingActivationToken_, std::nullopt));
    }
}

void SingleInstanceCoordinator::receiveOpenRequest(std::optional<std::string> activationToken) {
    if (!isPrimary_) {
        return;
    }
    if (openHandler_) {
        openHandler_(std::move(activationToken));
        return;
    }
    pendingOpen_ = true;
    // Merged requests raise the window once, for the latest launch.
    if (activationToken) {
        pendingActivationToken_ = std::move(activationToken);
    }
}

}  // namespace kelvra
