// SPDX-License-Identifier: MIT
#include "shell/login_item/linux/MainAppLoginItemService.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Error.h"
#include "core/PrivateDirectory.h"
#include "core/UniqueFd.h"
#include "core/XdgPaths.h"
#include "shell/BundleLocation.h"
#include "shell/login_item/linux/DesktopEntry.h"
#include "shell/login_item/linux/StartupApplicationsTool.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kNewEntryMode = 0644;

const char* kindName(LoginItemError::Kind kind) {
    switch (kind) {
        case LoginItemError::Kind::executableNotFound:
            return "executableNotFound";
        case LoginItemError::Kind::unrepresentableExecutable:
            return "unrepresentableExecutable";
        case LoginItemError::Kind::readEntry:
            return "readEntry";
        case LoginItemError::Kind::writeEntry:
            return "writeEntry";
        case LoginItemError::Kind::removeEntry:
            return "removeEntry";
    }
    return "";
}

/// The entry's bytes; absent with errno when it cannot be read, ENOENT when it is not there.
std::expected<std::string, int> readEntry(const fs::path& path) {
    // Non-blocking, so that a FIFO in the entry's place cannot hang us.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file) {
        return std::unexpected(errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return std::unexpected(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return std::unexpected(EINVAL);
    }
    std::string contents;
    char buffer[4096];
    while (true) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::unexpected(errno);
        }
        if (count == 0) {
            return contents;
        }
        contents.append(buffer, static_cast<size_t>(count));
    }
}

/// Replaces `path` with `contents` in one rename, so the session never reads half an entry.
int replaceFile(const fs::path& path, const std::string& contents, mode_t mode) {
    std::string temporary = path.string() + ".XXXXXX";
    UniqueFd file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file) {
        return errno;
    }
    const auto fail = [&](int error) {
        ::unlink(temporary.c_str());
        return error;
    };
    if (const int error = writeAll(file.get(), contents); error != 0) {
        return fail(error);
    }
    if (::fchmod(file.get(), mode) != 0 || ::fsync(file.get()) != 0) {
        return fail(errno);
    }
    file.reset();
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return fail(errno);
    }
    if (UniqueFd directory(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        directory) {
        ::fsync(directory.get());  // the entry is in place; only its durability is at stake
    }
    return 0;
}

}  // namespace

std::string LoginItemError::description() const {
    const std::string path = path_.string();
    switch (kind_) {
        case Kind::executableNotFound:
            return "Kelvra Hub could not find its own program file, so it cannot start itself "
                   "at login.";
        case Kind::unrepresentableExecutable:
            return "Kelvra Hub cannot start itself at login from " + path +
                   " because the path holds characters that a startup entry cannot contain.";
        case Kind::readEntry:
            return "Kelvra Hub could not read its startup entry " + path + ": " +
                   errorText(errorNumber_) + ".";
        case Kind::writeEntry:
            return "Kelvra Hub could not write its startup entry " + path + ": " +
                   errorText(errorNumber_) + ".";
        case Kind::removeEntry:
            return "Kelvra Hub could not remove its startup entry " + path + ": " +
                   errorText(errorNumber_) + ".";
    }
    return {};
}

std::string LoginItemError::diagnosticDescription() const {
    return std::string("LoginItemError.") + kindName(kind_) + "(" + quoted(path_.string()) +
           ", errno " + std::to_string(errorNumber_) + ")";
}

fs::path MainAppLoginItemService::defaultEntryPath(const Environment& environment) {
    return XdgPaths::configHome(environment) / "autostart" /
           (std::string(kDesktopApplicationId) + ".desktop");
}

std::unique_ptr<MainAppLoginItemService> MainAppLoginItemService::createDefault(
    const Environment& environment) {
    return std::make_unique<MainAppLoginItemService>(defaultEntryPath(environment),
                                                     BundleLocation::executablePath(), environment);
}

MainAppLoginItemService::MainAppLoginItemService(fs::path entryPath,
                                                 std::optional<fs::path> executable,
                                                 Environment environment)
    : entryPath_(std::move(entryPath)),
      executable_(std::move(executable)),
      environment_(std::move(environment)) {}

bool MainAppLoginItemService::executableIsUsable() const {
    if (!executable_ || !executable_->is_absolute()) {
        return false;
    }
    struct stat status {};
    return ::stat(executable_->c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           ::access(executable_->c_str(), X_OK) == 0;
}

LoginItemStatus MainAppLoginItemService::status() const {
    struct stat status {};
    if (::stat(entryPath_.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return executableIsUsable() ? LoginItemStatus::notRegistered : LoginItemStatus::notFound;
    }
    const auto contents = readEntry(entryPath_);
    // An entry we cannot read is still there; only its contents could have switched it off.
    if (contents && DesktopEntry::isDisabled(*contents)) {
        return LoginItemStatus::requiresApproval;
    }
    return LoginItemStatus::enabled;
}

std::expected<void, LoginItemError> MainAppLoginItemService::registerItem() {
    if (!executableIsUsable()) {
        return std::unexpected(LoginItemError(LoginItemError::Kind::executableNotFound,
                                              executable_.value_or(fs::path())));
    }
    const auto exec = DesktopEntry::execValue(*executable_);
    if (!exec) {
        return std::unexpected(
            LoginItemError(LoginItemError::Kind::unrepresentableExecutable, *executable_));
    }
    auto existing = readEntry(entryPath_);
    // ENOTDIR: a folder on the way is a file, so there is no entry either.
    if (!existing && existing.error() != ENOENT && existing.error() != ENOTDIR) {
        return std::unexpected(
            LoginItemError(LoginItemError::Kind::readEntry, entryPath_, existing.error()));
    }
    mode_t mode = kNewEntryMode;
    if (struct stat status{}; existing && ::stat(entryPath_.c_str(), &status) == 0) {
        mode = status.st_mode & 07777;
    }
    const std::string contents = DesktopEntry::enabledEntry(existing.value_or(""), *exec);
    if (const int error = createPrivateDirectories(entryPath_.parent_path()); error != 0) {
        return std::unexpected(LoginItemError(LoginItemError::Kind::writeEntry, entryPath_, error));
    }
    if (const int error = replaceFile(entryPath_, contents, mode); error != 0) {
        return std::unexpected(LoginItemError(LoginItemError::Kind::writeEntry, entryPath_, error));
    }
    return {};
}

std::expected<void, LoginItemError> MainAppLoginItemService::unregister() {
    if (::unlink(entryPath_.c_str()) != 0 && errno != ENOENT) {
        const int error = errno;
        return std::unexpected(
            LoginItemError(LoginItemError::Kind::removeEntry, entryPath_, error));
    }
    return {};
}

void MainAppLoginItemService::openSystemSettingsLoginItems() {
    if (const auto command = StartupApplicationsTool::command(environment_)) {
        StartupApplicationsTool::launch(*command);
    }
}

}  // namespace kelvra
