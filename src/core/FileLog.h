// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/LogSink.h"

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

/// The application's diagnostic log: "kelvra-hub.log" in one directory, one synchronously
/// flushed line per `write`, "<UTC timestamp> [<category>] <message>". Opening it rotates a
/// previous run's file of at least `maximumBytes` to "kelvra-hub.previous.log"; it is never
/// rotated while open.
class FileLog final : public LogSink {
public:
    static constexpr uint64_t kDefaultMaximumBytes = 5 * 1024 * 1024;

    static std::expected<std::shared_ptr<FileLog>, FileLogError> open(
        const std::filesystem::path& directory, uint64_t maximumBytes);

    /// "$XDG_STATE_HOME/Morvane/Kelvra Hub", fixed at first use.
    static const std::filesystem::path& defaultDirectory();
    /// The log file in `defaultDirectory()`.
    static const std::filesystem::path& defaultURL();

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

    const std::filesystem::path& url() const { return url_; }
    const std::filesystem::path& previousURL() const { return previousURL_; }

    /// Appends and flushes one line to the disk. A failure loses the line and nothing else.
    void write(std::string_view category, std::string_view message) override;

private:
    FileLog(std::filesystem::path url, std::filesystem::path previousURL, int descriptor)
        : url_(std::move(url)), previousURL_(std::move(previousURL)), descriptor_(descriptor) {}

    const std::filesystem::path url_;
    const std::filesystem::path previousURL_;
    std::mutex mutex_;
    const int descriptor_;
};

}  // namespace kelvra
