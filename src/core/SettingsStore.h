// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Environment.h"

namespace kelvra {

/// Why the settings could not be saved, or what was wrong with the settings file found at
/// opening.
class SettingsStoreError {
public:
    enum class Kind {
        /// Saving: a step of replacing the file failed; the file on disk is as it was.
        createDirectory,
        createTemporaryFile,
        writeTemporaryFile,
        synchronizeTemporaryFile,
        replaceFile,
        /// Saving: the new file is in place, but its directory entry may not be on the disk yet.
        synchronizeDirectory,
        /// Opening: the file was not a JSON object; it was moved to `setAsidePath`.
        corruptFileSetAside,
        /// Opening, or saving after that: the file could not be read. It is kept untouched, and
        /// nothing is saved over it until a read succeeds.
        readFailed,
        /// A bad file could not be moved aside; it is kept, and nothing is saved over it.
        setAsideFailed,
    };

    SettingsStoreError(Kind kind, std::filesystem::path path, int errorNumber,
                       std::filesystem::path setAsidePath = {})
        : kind_(kind),
          path_(std::move(path)),
          setAsidePath_(std::move(setAsidePath)),
          errorNumber_(errorNumber) {}

    Kind kind() const { return kind_; }
    /// The settings file, or for `createDirectory` its directory.
    const std::filesystem::path& path() const { return path_; }
    /// Where a bad file now is; empty for the other kinds.
    const std::filesystem::path& setAsidePath() const { return setAsidePath_; }
    /// The errno of the failed call; 0 when there was none.
    int errorNumber() const { return errorNumber_; }

    std::string description() const;
    std::string diagnosticDescription() const;

    friend bool operator==(const SettingsStoreError&, const SettingsStoreError&) = default;

private:
    Kind kind_;
    std::filesystem::path path_;
    std::filesystem::path setAsidePath_;
    int errorNumber_;
};

/// One key to set to a value, or to remove when the value is absent.
struct SettingsChange {
    std::string key;
    std::optional<nlohmann::json> value;
};

/// The values under their keys, as both stores keep them; not synchronised (each store guards
/// its own).
class SettingsDocument {
public:
    explicit SettingsDocument(nlohmann::json::object_t values = {}) : values_(std::move(values)) {}

    std::optional<nlohmann::json> value(std::string_view key) const;
    void apply(const std::vector<SettingsChange>& changes);
    const nlohmann::json::object_t& values() const { return values_; }

private:
    nlohmann::json::object_t values_;
};

/// The per-user settings: typed values under string keys, safe for concurrent use from any
/// thread. A value of another type than the one asked for reads as absent.
///
/// A write that reports a failure has still changed the values this store answers; they are
/// saved with the next write that succeeds.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    /// The value under `key` as stored, whatever its type.
    virtual std::optional<nlohmann::json> value(std::string_view key) const = 0;
    /// Applies the changes in order as one update: a reader sees all or none of them, and a
    /// file-backed store saves them with one replacement of its file.
    virtual std::expected<void, SettingsStoreError> apply(
        const std::vector<SettingsChange>& changes) = 0;

    /// An integral number from -2^63 through 2^63-1; booleans, fractions and larger numbers are
    /// no integers.
    std::optional<int64_t> integerValue(std::string_view key) const;
    /// `integerValue`, with absent read as 0.
    int64_t integer(std::string_view key) const { return integerValue(key).value_or(0); }
    std::optional<std::string> text(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<nlohmann::json::object_t> dictionary(std::string_view key) const;
    std::optional<nlohmann::json::array_t> array(std::string_view key) const;

    std::expected<void, SettingsStoreError> setInteger(std::string_view key, int64_t value);
    std::expected<void, SettingsStoreError> setText(std::string_view key, std::string_view value);
    std::expected<void, SettingsStoreError> setBoolean(std::string_view key, bool value);
    std::expected<void, SettingsStoreError> setDictionary(std::string_view key,
                                                          nlohmann::json::object_t value);
    std::expected<void, SettingsStoreError> setArray(std::string_view key,
                                                     nlohmann::json::array_t value);
    /// Removing a key that is not there succeeds.
    std::expected<void, SettingsStoreError> remove(std::string_view key);
};

/// Settings held in memory only, for tests and for components that are given no store.
class InMemorySettingsStore final : public SettingsStore {
public:
    explicit InMemorySettingsStore(nlohmann::json::object_t values = {})
        : document_(std::move(values)) {}

    std::optional<nlohmann::json> value(std::string_view key) const override;
    std::expected<void, SettingsStoreError> apply(
        const std::vector<SettingsChange>& changes) override;

    /// Every key and value, as a file-backed store would save them.
    nlohmann::json::object_t values() const;

private:
    mutable std::mutex mutex_;
    SettingsDocument document_;
};

/// Settings kept as one JSON object in one file, loaded once at construction.
///
/// Every write replaces the whole file atomically (temporary file in the same directory, sync,
/// rename, sync of the directory), so a crash or a full disk leaves either the old or the new
/// file, never a mix, and a failed write leaves the old file untouched.
///
/// A file that reads in full but is not a JSON object (not JSON, another JSON value, too large,
/// nested too deeply) is moved aside to "<name>.corrupt-<UTC time>" (with "-2", "-3", … when
/// that name is taken; an earlier file is never replaced), and the store starts empty. An empty
/// file holds nothing to keep and reads as empty settings.
///
/// A file that cannot be read (a passing I/O error, too many open files, something other than a
/// file in its place) may hold every setting, so it is kept as it is: the store answers the
/// defaults and the changes made since, and each write first reads the file again. A write
/// whose read fails again is refused and saves nothing; once a read succeeds, the changes are
/// laid over the file's settings and saved together.
class JsonFileSettingsStore final : public SettingsStore {
public:
    /// Largest file read; anything larger was not written by us.
    static constexpr uint64_t kMaximumFileBytes = 4 * 1024 * 1024;

    /// Where tests take the place of the system.
    struct Seams {
        /// Called before each file operation that can fail, named by the error its failure
        /// gives (`readFailed` for reading the file, `setAsideFailed` for moving a bad file
        /// aside); a non-zero errno makes the step fail with it, as if the system had refused.
        std::function<int(SettingsStoreError::Kind)> failStep;
        /// The time that names a file moved aside; the system clock when empty.
        std::function<std::chrono::system_clock::time_point()> now;
    };

    /// "$XDG_CONFIG_HOME/Morvane/Kelvra Hub/settings.json".
    static std::filesystem::path defaultPath(const Environment& environment);

    /// Opens the settings at `path`; a missing file means empty settings. Never fails: what
    /// went wrong with an existing file is kept in `openingProblem()`.
    explicit JsonFileSettingsStore(std::filesystem::path path, Seams seams = {});

    JsonFileSettingsStore(const JsonFileSettingsStore&) = delete;
    JsonFileSettingsStore& operator=(const JsonFileSettingsStore&) = delete;

    const std::filesystem::path& path() const { return path_; }

    /// What was wrong with the file found at opening (set aside, kept when that failed, or kept
    /// unread); absent when it read cleanly or did not exist. For the log.
    const std::optional<SettingsStoreError>& openingProblem() const { return openingProblem_; }

    std::optional<nlohmann::json> value(std::string_view key) const override;
    std::expected<void, SettingsStoreError> apply(
        const std::vector<SettingsChange>& changes) override;

private:
    /// The settings found in the file, and what was wrong with a file set aside.
    struct Loaded {
        nlohmann::json::object_t values;
        std::optional<SettingsStoreError> problem;
    };

    /// The file's bytes (none when it does not exist; reading stops past the size limit), or
    /// the errno of the failure.
    std::expected<std::string, int> readFile() const;
    /// Reads the file, setting aside a corrupt one; fails only when the file could not be read.
    std::expected<Loaded, SettingsStoreError> load();
    /// The new name of the bad file, empty when it has vanished; or the errno of the failure.
    std::expected<std::filesystem::path, int> moveAside() const;
    std::expected<void, SettingsStoreError> replaceFile(const std::string& contents) const;
    int injectedFailure(SettingsStoreError::Kind step) const;

    const std::filesystem::path path_;
    const Seams seams_;
    std::optional<SettingsStoreError> openingProblem_;

    mutable std::mutex mutex_;
    SettingsDocument document_;
    /// A bad file that could not be moved aside when read: set it aside before any write.
    bool pendingSetAside_ = false;
    /// Present while the file found at opening is still unread: the changes made since, to lay
    /// over its settings once it reads.
    std::optional<std::vector<SettingsChange>> changesWhileUnread_;
};

}  // namespace kelvra
