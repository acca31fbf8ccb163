// SPDX-License-Identifier: MIT
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/PrivateDirectory.h"
#include "core/SettingsStore.h"
#include "core/StrictJson.h"
#include "core/UniqueFd.h"
#include "core/XdgPaths.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string utcStamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

/// Renames without ever replacing an existing file: 0, or the errno (EEXIST when taken).
int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing name too.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

fs::path JsonFileSettingsStore::defaultPath(const Environment& environment) {
    return XdgPaths::applicationDirectory(XdgPaths::configHome(environment)) / "settings.json";
}

JsonFileSettingsStore::JsonFileSettingsStore(fs::path path, Seams seams)
    : path_(std::move(path)), seams_(std::move(seams)) {
    auto loaded = load();
    if (!loaded) {
        openingProblem_ = loaded.error();
        changesWhileUnread_.emplace();
        return;
    }
    openingProblem_ = std::move(loaded->problem);
    document_ = SettingsDocument(std::move(loaded->values));
}

std::expected<std::string, int> JsonFileSettingsStore::readFile() const {
    if (const int injected = injectedFailure(SettingsStoreError::Kind::readFailed)) {
        return std::unexpected(injected);
    }
    // Non-blocking so that a FIFO in the file's place cannot hang the start.
    UniqueFd file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        // ENOTDIR: a folder on the way is a file, so there is no settings file either.
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::string();
        }
        return std::unexpected(errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return std::unexpected(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return std::unexpected(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
    }
    // Stops just past the limit: that much is enough to know the file is not ours.
    std::string bytes;
    char buffer[16384];
    while (bytes.size() <= kMaximumFileBytes) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(errno);
        }
        if (count == 0) {
            break;
        }
        bytes.append(buffer, static_cast<size_t>(count));
    }
    return bytes;
}

std::expected<JsonFileSettingsStore::Loaded, SettingsStoreError> JsonFileSettingsStore::load() {
    auto bytes = readFile();
    if (!bytes) {
        return std::unexpected(
            SettingsStoreError(SettingsStoreError::Kind::readFailed, path_, bytes.error()));
    }
    if (bytes->empty()) {
        return Loaded{};
    }
    auto document =
        bytes->size() > kMaximumFileBytes ? std::nullopt : StrictJson::parseObject(*bytes);
    if (document) {
        return Loaded{std::move(*document), std::nullopt};
    }
    const int errorNumber = bytes->size() > kMaximumFileBytes ? EFBIG : 0;
    const auto moved = moveAside();
    if (!moved) {
        pendingSetAside_ = true;
        return Loaded{
            {}, SettingsStoreError(SettingsStoreError::Kind::setAsideFailed, path_, moved.error())};
    }
    if (moved->empty()) {
        return Loaded{};
    }
    return Loaded{{},
                  SettingsStoreError(SettingsStoreError::Kind::corruptFileSetAside, path_,
                                     errorNumber, *moved)};
}

std::expected<fs::path, int> JsonFileSettingsStore::moveAside() const {
    const auto now = seams_.now ? seams_.now() : std::chrono::system_clock::now();
    const std::string base = path_.filename().string() + ".corrupt-" + utcStamp(now);
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const auto candidate =
            path_.parent_path() / (attempt == 1 ? base : base + "-" + std::to_string(attempt));
        int result = injectedFailure(SettingsStoreError::Kind::setAsideFailed);
        if (result == 0) {
            result = renameNoReplace(path_, candidate);
        }
        if (result == 0) {
            return candidate;
        }
        if (result == ENOENT) {
            return fs::path();
        }
        if (result != EEXIST) {
            return std::unexpected(result);
        }
    }
    return std::unexpected(EEXIST);
}

int JsonFileSettingsStore::injectedFailure(SettingsStoreError::Kind step) const {
    return seams_.failStep ? seams_.failStep(step) : 0;
}

std::optional<json> JsonFileSettingsStore::value(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return document_.value(key);
}

std::expected<void, SettingsStoreError> JsonFileSettingsStore::apply(
    const std::vector<SettingsChange>& changes) {
    std::lock_guard lock(mutex_);
    document_.apply(changes);
    if (changesWhileUnread_) {
        // Saving now would replace settings never read: read again, and refuse while it fails.
        changesWhileUnread_->insert(changesWhileUnread_->end(), changes.begin(), changes.end());
        auto loaded = load();
        if (!loaded) {
            return std::unexpected(loaded.error());
        }
        document_ = SettingsDocument(std::move(loaded->values));
        document_.apply(*changesWhileUnread_);
        changesWhileUnread_.reset();
    }
    if (pendingSetAside_) {
        const auto moved = moveAside();
        if (!moved) {
            return std::unexpected(
                SettingsStoreError(SettingsStoreError::Kind::setAsideFailed, path_, moved.error()));
        }
        pendingSetAside_ = false;
    }
    // Invalid UTF-8 handed in by a caller is saved as U+FFFD rather than failing the save.
    const std::string contents =
        json(document_.values()).dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    return replaceFile(contents);
}

std::expected<void, SettingsStoreError> JsonFileSettingsStore::replaceFile(
    const std::string& contents) const {
    using Kind = SettingsStoreError::Kind;
    const fs::path directory = path_.has_parent_path() ? path_.parent_path() : fs::path(".");
    const auto failure = [this](Kind kind, int errorNumber) {
        return std::unexpected(SettingsStoreError(kind, path_, errorNumber));
    };

    int error = injectedFailure(Kind::createDirectory);
    if (error == 0) {
        error = createPrivateDirectories(directory);
    }
    if (error != 0) {
        return std::unexpected(SettingsStoreError(Kind::createDirectory, directory, error));
    }

    std::string temporaryPath =
        (directory / ("." + path_.filename().string() + ".XXXXXX")).string();
    error = injectedFailure(Kind::createTemporaryFile);
    UniqueFd temporary(error == 0 ? ::mkostemp(temporaryPath.data(), O_CLOEXEC) : -1);
    if (temporary.get() < 0) {
        return failure(Kind::createTemporaryFile, error != 0 ? error : errno);
    }
    const auto discard = [&](Kind kind, int errorNumber) {
        ::unlink(temporaryPath.c_str());
        return failure(kind, errorNumber);
    };

    error = injectedFailure(Kind::writeTemporaryFile);
    if (error == 0) {
        error = writeAll(temporary.get(), contents);
    }
    if (error != 0) {
        return discard(Kind::writeTemporaryFile, error);
    }

    error = injectedFailure(Kind::synchronizeTemporaryFile);
    if (error == 0 && ::fsync(temporary.get()) != 0) {
        error = errno;
    }
    if (::close(temporary.release()) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        return discard(Kind::synchronizeTemporaryFile, error);
    }

    error = injectedFailure(Kind::replaceFile);
    if (error == 0 && ::rename(temporaryPath.c_str(), path_.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        return discard(Kind::replaceFile, error);
    }

    error = injectedFailure(Kind::synchronizeDirectory);
    if (error == 0) {
        UniqueFd directoryDescriptor(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (directoryDescriptor.get() < 0) {
            error = errno;
        } else if (::fsync(directoryDescriptor.get()) != 0 && errno != EINVAL && errno != EROFS) {
            // EINVAL and EROFS: the file system has no directory sync to offer.
            error = errno;
        }
    }
    if (error != 0) {
        return failure(Kind::synchronizeDirectory, error);
    }
    return {};
}

}  // namespace kelvra
