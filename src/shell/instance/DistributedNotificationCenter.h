// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/DescriptorWatching.h"
#include "core/Environment.h"
#include "core/MainThreadExecutor.h"
#include "core/PrivateDirectory.h"

namespace kelvra {

/// Why a notification could not be observed or posted.
class NotificationCenterError {
public:
    enum class Kind { unsafeDirectory, invalidName, cannotObserve, cannotPost, noAnswer };

    static NotificationCenterError unsafeDirectory(std::filesystem::path directory,
                                                   DirectoryProblem problem);
    static NotificationCenterError invalidName(std::string name);
    static NotificationCenterError cannotObserve(std::filesystem::path endpoint, int errorNumber);
    static NotificationCenterError cannotPost(std::filesystem::path endpoint, int errorNumber);
    static NotificationCenterError noAnswer(std::filesystem::path endpoint);

    Kind kind() const { return kind_; }
    /// The directory or endpoint concerned; the name for `invalidName`.
    const std::filesystem::path& path() const { return path_; }
    int errorNumber() const { return errorNumber_; }

    std::string description() const;
    std::string diagnosticDescription() const;

private:
    NotificationCenterError(Kind kind, std::filesystem::path path, int errorNumber = 0)
        : kind_(kind), path_(std::move(path)), errorNumber_(errorNumber) {}

    Kind kind_;
    std::filesystem::path path_;
    int errorNumber_;
    std::optional<DirectoryProblem> problem_;
};

/// Named notifications between the processes of the current user. Each observed name is a
/// Unix-domain socket of that name in one directory that must belong to the user and be closed
/// to everyone else, so other users can neither post to us nor receive our posts.
///
/// A name has at most one observer among all the user's processes; the caller decides which
/// process that is (the one holding the instance lock).
class DistributedNotificationCenter {
public:
    /// An observer registration. Destroying it (on the main thread) stops listening and removes
    /// the endpoint, unless another process has replaced it meanwhile.
    class Observation {
    public:
        virtual ~Observation() = default;
    };

    /// Called once for every post, with the post's detail when it carried one.
    using Observer = std::function<void(std::optional<std::string> detail)>;

    static constexpr std::chrono::milliseconds kDefaultPostTimeout{3000};

    /// `$XDG_RUNTIME_DIR`, or the application's support directory
    /// ("$XDG_DATA_HOME/Morvane/Kelvra Hub") when that variable is unset.
    static std::filesystem::path defaultDirectory(const Environment& environment);

    /// Posts are received in the main thread's loop, and observers called there. Nothing is
    /// checked or created yet.
    DistributedNotificationCenter(std::filesystem::path directory,
                                  std::shared_ptr<MainThreadExecutor> mainThread,
                                  std::shared_ptr<DescriptorWatching> mainThreadWatching);

    const std::filesystem::path& directory() const { return directory_; }

    /// Fails unless the directory exists, belongs to the effective user and grants nothing to
    /// the group or others.
    std::expected<void, NotificationCenterError> verifyDirectory() const;

    /// Starts listening for posts of `name` in the main thread's loop, so no thread waits for
    /// them; `observer` runs on the main thread once for every post, a post without a detail
    /// included. An endpoint left by a process that has ended is replaced, so call this only
    /// where no live process observes `name`. Call on the main thread.
    std::expected<std::unique_ptr<Observation>, NotificationCenterError> addObserver(
        const std::string& name, Observer observer);

    /// Delivers `name` to its observer in another process and returns once that process has
    /// taken it (its observer call is queued). `detail` goes along unless it is empty, holds a
    /// line feed or NUL, or is longer than 512 bytes; then the post carries none. Fails when
    /// nobody observes `name`, the observer does not answer within `timeout`, or the directory
    /// is unsafe.
    std::expected<void, NotificationCenterError> post(
        const std::string& name, const std::optional<std::string>& detail = std::nullopt,
        std::chrono::milliseconds timeout = kDefaultPostTimeout) const;

private:
    const std::filesystem::path directory_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const std::shared_ptr<DescriptorWatching> mainThreadWatching_;
};

}  // namespace kelvra
