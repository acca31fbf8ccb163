// SPDX-License-Identifier: MIT
#include "core/FileLog.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Environment.h"
#include "core/Error.h"
#include "core/PrivateDirectory.h"
#include "core/Unicode.h"
#include "core/UniqueFd.h"
#include "core/XdgPaths.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;

const char* kindName(FileLogError::Kind kind) {
    switch (kind) {
        case FileLogError::Kind::createDirectory:
            return "createDirectory";
        case FileLogError::Kind::rotate:
            return "rotate";
        case FileLogError::Kind::createFile:
            return "createFile";
        case FileLogError::Kind::open:
            return "open";
    }
    return "";
}

}  // namespace

std::string FileLogError::description() const {
    switch (kind_) {
        case Kind::createDirectory:
            return "Kelvra Hub could not create its log folder " + path_.string() + ": " +
                   errorText(errorNumber_) + ".";
        case Kind::rotate:
            return "Kelvra Hub could not keep its previous log at " + path_.string() + ": " +
                   errorText(errorNumber_) + ".";
        case Kind::createFile:
            return "Kelvra Hub could not create its log file " + path_.string() + ".";
        case Kind::open:
            return "Kelvra Hub could not open its log file " + path_.string() + ": " +
                   errorText(errorNumber_) + ".";
    }
    return {};
}

std::string FileLogError::diagnosticDescription() const {
    return std::string("FileLogError.") + kindName(kind_) + "(" + quoted(path_.string()) +
           ", errno " + std::to_string(errorNumber_) + ": " + errorText(errorNumber_) + ")";
}

const fs::path& FileLog::defaultDirectory() {
    static const fs::path directory =
        XdgPaths::applicationDirectory(XdgPaths::stateHome(currentEnvironment()));
    return directory;
}

const fs::path& FileLog::defaultURL() {
    static const fs::path url = defaultDirectory() / "kelvra-hub.log";
    return url;
}

std::expected<void, FileLogError> FileLog::rotateIfNeeded(const fs::path& current,
                                                          const fs::path& previous,
                                                          uint64_t maximumBytes) {
    struct stat status {};
    if (::stat(current.c_str(), &status) != 0) {
        return {};
    }
    if (static_cast<uint64_t>(status.st_size) < maximumBytes) {
        return {};
    }
    // rename(2) replaces an older previous generation in one step.
    if (::rename(current.c_str(), previous.c_str()) != 0) {
        return std::unexpected(FileLogError(FileLogError::Kind::rotate, previous, errno));
    }
    return {};
}

std::expected<std::shared_ptr<FileLog>, FileLogError> FileLog::open(const fs::path& directory,
                                                                    uint64_t maximumBytes) {
    const fs::path url = directory / "kelvra-hub.log";
    const fs::path previousURL = directory / "kelvra-hub.previous.log";

    if (const int error = createPrivateDirectories(directory); error != 0) {
        return std::unexpected(FileLogError(FileLogError::Kind::createDirectory, directory, error));
    }
    if (auto rotated = rotateIfNeeded(url, previousURL, maximumBytes); !rotated) {
        return std::unexpected(rotated.error());
    }
    // O_APPEND keeps every line at the end, even if something else appends to the file too.
    const int descriptor = ::open(url.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        const int openError = errno;
        const bool missing = ::access(url.c_str(), F_OK) != 0;
        return std::unexpected(FileLogError(
            missing ? FileLogError::Kind::createFile : FileLogError::Kind::open, url, openError));
    }
    return std::shared_ptr<FileLog>(new FileLog(url, previousURL, descriptor));
}

FileLog::~FileLog() {
    ::close(descriptor_);
}

std::string FileLog::formatLine(std::chrono::system_clock::time_point time,
                                std::string_view category, std::string_view message) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char timestamp[32];
    std::strftime(timestamp, sizeof timestamp, "%Y-%m-%dT%H:%M:%SZ", &utc);

    std::string line = timestamp;
    line.reserve(line.size() + category.size() + message.size() + 5);
    line += " [";
    line += Unicode::repairedUTF8(category);
    line += "] ";
    line += Unicode::repairedUTF8(message);
    line += '\n';
    return line;
}

void FileLog::write(std::string_view category, std::string_view message) {
    const std::string line = formatLine(std::chrono::system_clock::now(), category, message);

    std::lock_guard lock(mutex_);
    if (writeAll(descriptor_, line) == 0) {
        ::fdatasync(descriptor_);
    }
}

}  // namespace kelvra
