// SPDX-License-Identifier: MIT
#include "core/FileLog.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

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

// O_APPEND keeps every line at the end, even with other processes appending too.
int openForAppending(const fs::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

uint64_t sizeOf(int descriptor) {
    struct stat status {};
    return ::fstat(descriptor, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

bool isSameFile(int descriptor, const fs::path& path) {
    struct stat open {
    }, named{};
    return ::fstat(descriptor, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
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

const fs::path& FileLog::defaultPath() {
    static const fs::path path = defaultDirectory() / "kelvra-hub.log";
    return path;
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
    const fs::path path = directory / "kelvra-hub.log";
    const fs::path previousPath = directory / "kelvra-hub.previous.log";

    if (const int error = createPrivateDirectories(directory); error != 0) {
        return std::unexpected(FileLogError(FileLogError::Kind::createDirectory, directory, error));
    }
    // The lock sits on the directory, which no rotation moves, and adds no file beside the two
    // generations.
    UniqueFd directoryLock(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directoryLock && ::flock(directoryLock.get(), LOCK_EX | LOCK_NB) != 0 &&
        errno == EWOULDBLOCK) {
        directoryLock.reset();
    }
    if (directoryLock) {
        if (auto rotated = rotateIfNeeded(path, previousPath, maximumBytes); !rotated) {
            return std::unexpected(rotated.error());
        }
    }
    UniqueFd file(openForAppending(path));
    if (!file) {
        const int openError = errno;
        const bool missing = ::access(path.c_str(), F_OK) != 0;
        return std::unexpected(FileLogError(
            missing ? FileLogError::Kind::createFile : FileLogError::Kind::open, path, openError));
    }
    return std::shared_ptr<FileLog>(
        new FileLog(path, previousPath, maximumBytes, std::move(directoryLock), std::move(file)));
}

FileLog::FileLog(fs::path path, fs::path previousPath, uint64_t maximumBytes,
                 UniqueFd directoryLock, UniqueFd file)
    : path_(std::move(path)),
      previousPath_(std::move(previousPath)),
      maximumBytes_(maximumBytes),
      directoryLock_(std::move(directoryLock)),
      file_(std::make_shared<UniqueFd>(std::move(file))),
      fileSize_(sizeOf(file_->get())) {}

FileLog::~FileLog() {
    if (syncer_.joinable()) {
        syncer_.request_stop();
        syncer_.join();
    }
    if (retired_) {
        ::fdatasync(retired_->get());
    }
    ::fdatasync(file_->get());
}

void FileLog::startSyncer() {
    if (syncing_) {
        return;
    }
    try {
        // Replacing the syncer joins one that has left its loop, which takes no disk wait.
        syncer_ = std::jthread([this](std::stop_token stop) { syncWhileWritten(std::move(stop)); });
    } catch (const std::system_error&) {
        return;  // no thread to be had: the system's writeback takes the lines, the next tries
                 // again
    }
    syncing_ = true;
    pthread_setname_np(syncer_.native_handle(), "log-sync");
}

void FileLog::syncWhileWritten(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (true) {
        // Lines written meanwhile share this sync; the closing log syncs what is left.
        closing_.wait_for(lock, stop, kSyncInterval, [] { return false; });
        if (stop.stop_requested() || !unsynced_) {
            break;
        }
        unsynced_ = false;
        const auto retired = std::exchange(retired_, nullptr);
        const auto file = file_;
        lock.unlock();
        if (retired) {
            ::fdatasync(retired->get());
        }
        ::fdatasync(file->get());
        lock.lock();
    }
    syncing_ = false;
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

void FileLog::prepareFileFor(size_t lineSize) {
    if (!directoryLock_) {
        // The holder may have rotated the file away; follow it to the current one.
        if (!isSameFile(file_->get(), path_)) {
            if (UniqueFd current(openForAppending(path_)); current) {
                file_ = std::make_shared<UniqueFd>(std::move(current));
            }
        }
        return;
    }
    if (fileSize_ == 0 || fileSize_ + lineSize <= maximumBytes_) {
        return;
    }
    if (::rename(path_.c_str(), previousPath_.c_str()) != 0) {
        return;  // the line goes to the file as it is
    }
    UniqueFd fresh(openForAppending(path_));
    if (!fresh) {
        return;
    }
    // A file rotated before the last one was synced is left to the system's own writeback.
    retired_ = std::exchange(file_, std::make_shared<UniqueFd>(std::move(fresh)));
    fileSize_ = 0;
}

void FileLog::write(std::string_view category, std::string_view message) {
    const std::string line = formatLine(std::chrono::system_clock::now(), category, message);
    std::lock_guard lock(mutex_);
    prepareFileFor(line.size());
    if (writeAll(file_->get(), line) != 0) {
        return;
    }
    // With O_APPEND the position is the file's end, lines of other processes included.
    const off_t end = ::lseek(file_->get(), 0, SEEK_CUR);
    fileSize_ = end >= 0 ? static_cast<uint64_t>(end) : fileSize_ + line.size();
    unsynced_ = true;
    startSyncer();
}

}  // namespace kelvra
