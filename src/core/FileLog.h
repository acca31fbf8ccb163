// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "core/LogSink.h"
#include "core/UniqueFd.h"

namespace kelvra {

/// Why the log could not be opened.
class FileLogError {
public:
    enum class Kind { createDirectory, rotate, createFile, open };

    FileLogError(Kind kind, std::filesystem::path path, int errorNumber)
        : kind_(kind), path_(std::move(path)), errorNumber_(errorNumber) {}

    Kind kind() const { return kind_; }
    const std::filesystem::path& path() const { return path_; }
    /// The errno of the failed call; 0 when the system gave none.
    int errorNumber() const { return errorNumber_; }

    std::string description() const;
    std::string diagnosticDescription() const;

private:
    Kind kind_;
    std::filesystem::path path_;
    int errorNumber_;
};

/// The application's diagnostic log: "kelvra-hub.log" in one directory, one line per `write`,
/// "<UTC timestamp> [<category>] <message>". Each line is written at once and reaches the disk
/// within `kSyncInterval`, synced by a thread that runs only while lines come and ends after an
/// interval without one, so a quiet log keeps no thread; closing the log syncs the rest.
///
/// The first log opened on a directory holds it until it is closed, also against other
/// processes. Only the holder rotates: at opening, a file of at least `maximumBytes` becomes
/// "kelvra-hub.previous.log", and while it runs, a line that would take the file over the limit
/// goes to a fresh file after the same move. Other logs on the directory (a self-test beside a
/// running instance) append to whatever file is current.
class FileLog final : public LogSink {
public:
    static constexpr uint64_t kDefaultMaximumBytes = 5 * 1024 * 1024;
    static constexpr std::chrono::milliseconds kSyncInterval{200};

    static std::expected<std::shared_ptr<FileLog>, FileLogError> open(
        const std::filesystem::path& directory, uint64_t maximumBytes);

    /// "$XDG_STATE_HOME/Morvane/Kelvra Hub", fixed at first use.
    static const std::filesystem::path& defaultDirectory();
    /// The log file in `defaultDirectory()`.
    static const std::filesystem::path& defaultPath();

    /// Moves `current` over `previous` when it has at least `maximumBytes`. Only a failed move
    /// is an error; a missing `current` is not.
    static std::expected<void, FileLogError> rotateIfNeeded(const std::filesystem::path& current,
                                                            const std::filesystem::path& previous,
                                                            uint64_t maximumBytes);

    /// One log line, with its line feed. Invalid UTF-8 in the texts becomes U+FFFD so that the
    /// file stays readable text.
    static std::string formatLine(std::chrono::system_clock::time_point time,
                                  std::string_view category, std::string_view message);

    ~FileLog() override;
    FileLog(const FileLog&) = delete;
    FileLog& operator=(const FileLog&) = delete;

    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& previousPath() const { return previousPath_; }

    /// Appends one line; it never waits for the disk. A failure loses the line and nothing else.
    void write(std::string_view category, std::string_view message) override;

private:
    FileLog(std::filesystem::path path, std::filesystem::path previousPath, uint64_t maximumBytes,
            UniqueFd directoryLock, UniqueFd file);

    /// The file that lines go to now, rotated or reopened as needed; under `mutex_`.
    void prepareFileFor(size_t lineSize);
    /// Under `mutex_`: makes sure a syncer runs.
    void startSyncer();
    void syncWhileWritten(std::stop_token stop);

    const std::filesystem::path path_;
    const std::filesystem::path previousPath_;
    const uint64_t maximumBytes_;
    /// Open on the directory with its lock when this log holds it; invalid otherwise.
    const UniqueFd directoryLock_;

    std::mutex mutex_;
    /// Wakes the syncer from its interval when the log closes.
    std::condition_variable_any closing_;
    /// Shared with a sync under way, so a rotation never closes a descriptor being synced.
    std::shared_ptr<UniqueFd> file_;
    uint64_t fileSize_ = 0;
    bool unsynced_ = false;
    /// A rotated file still to be synced before it is closed.
    std::shared_ptr<UniqueFd> retired_;
    /// Whether `syncer_` is in its loop; a syncer that has left it is joined when replaced.
    bool syncing_ = false;
    std::jthread syncer_;
};

}  // namespace kelvra
