// SPDX-License-Identifier: MIT
#include "core/SettingsStore.h"

#include <cstring>
#include <limits>

#include "core/Error.h"

namespace kelvra {
namespace {

const char* kindName(SettingsStoreError::Kind kind) {
    using Kind = SettingsStoreError::Kind;
    switch (kind) {
        case Kind::createDirectory:
            return "createDirectory";
        case Kind::createTemporaryFile:
            return "createTemporaryFile";
        case Kind::writeTemporaryFile:
            return "writeTemporaryFile";
        case Kind::synchronizeTemporaryFile:
            return "synchronizeTemporaryFile";
        case Kind::replaceFile:
            return "replaceFile";
        case Kind::synchronizeDirectory:
            return "synchronizeDirectory";
        case Kind::corruptFileSetAside:
            return "corruptFileSetAside";
        case Kind::readFailed:
            return "readFailed";
        case Kind::setAsideFailed:
            return "setAsideFailed";
    }
    return "";
}

}  // namespace

std::string SettingsStoreError::description() const {
    const std::string path = path_.string();
    switch (kind_) {
        case Kind::createDirectory:
            return "Kelvra Hub could not create its settings folder " + path + ": " +
                   errorText(errorNumber_) + ".";
        case Kind::createTemporaryFile:
        case Kind::writeTemporaryFile:
        case Kind::synchronizeTemporaryFile:
        case Kind::replaceFile:
            return "Kelvra Hub could not save its settings to " + path + ": " +
                   errorText(errorNumber_) + ".";
        case Kind::synchronizeDirectory:
            return "Kelvra Hub saved its settings to " + path +
                   ", but could not make sure they reached the disk: " + errorText(errorNumber_) +
                   ".";
        case Kind::corruptFileSetAside:
            return "Kelvra Hub's settings file " + path + " was damaged and has been moved to " +
                   setAsidePath_.string() + "; the settings start from their defaults.";
        case Kind::readFailed:
            return "Kelvra Hub could not read its settings file " + path + ": " +
                   errorText(errorNumber_) +
                   ". The file is kept as it is; the settings start from their defaults, and "
                   "nothing is saved over the file until it can be read.";
        case Kind::setAsideFailed:
            return "Kelvra Hub could not move its damaged settings file " + path +
                   " aside: " + errorText(errorNumber_) +
                   ". Settings are not saved until it is moved or removed.";
    }
    return {};
}

std::string SettingsStoreError::diagnosticDescription() const {
    std::string text =
        std::string("SettingsStoreError.") + kindName(kind_) + "(" + quoted(path_.string());
    if (!setAsidePath_.empty()) {
        text += ", " + quoted(setAsidePath_.string());
    }
    if (errorNumber_ != 0) {
        text += ", errno " + std::to_string(errorNumber_) + ": " + errorText(errorNumber_);
    }
    return text + ")";
}

std::optional<int64_t> SettingsStore::integerValue(std::string_view key) const {
    const auto stored = value(key);
    if (!stored) {
        return std::nullopt;
    }
    if (stored->is_number_unsigned()) {
        const auto number = stored->get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<int64_t>(number);
    }
    if (stored->is_number_integer()) {
        return stored->get<int64_t>();
    }
    return std::nullopt;
}

std::optional<std::string> SettingsStore::text(std::string_view key) const {
    auto stored = value(key);
    if (!stored || !stored->is_string()) {
        return std::nullopt;
    }
    return std::move(stored->get_ref<std::string&>());
}

std::optional<bool> SettingsStore::boolean(std::string_view key) const {
    const auto stored = value(key);
    if (!stored || !stored->is_boolean()) {
        return std::nullopt;
    }
    return stored->get<bool>();
}

std::optional<nlohmann::json::object_t> SettingsStore::dictionary(std::string_view key) const {
    auto stored = value(key);
    if (!stored || !stored->is_object()) {
        return std::nullopt;
    }
    return std::move(stored->get_ref<nlohmann::json::object_t&>());
}

std::optional<nlohmann::json::array_t> SettingsStore::array(std::string_view key) const {
    auto stored = value(key);
    if (!stored || !stored->is_array()) {
        return std::nullopt;
    }
    return std::move(stored->get_ref<nlohmann::json::array_t&>());
}

std::expected<void, SettingsStoreError> SettingsStore::setInteger(std::string_view key,
                                                                  int64_t value) {
    return apply({{std::string(key), nlohmann::json(value)}});
}

std::expected<void, SettingsStoreError> SettingsStore::setText(std::string_view key,
                                                               std::string_view value) {
    return apply({{std::string(key), nlohmann::json(std::string(value))}});
}

std::expected<void, SettingsStoreError> SettingsStore::setBoolean(std::string_view key,
                                                                  bool value) {
    return apply({{std::string(key), nlohmann::json(value)}});
}

std::expected<void, SettingsStoreError> SettingsStore::setDictionary(
    std::string_view key, nlohmann::json::object_t value) {
    return apply({{std::string(key), nlohmann::json(std::move(value))}});
}

std::expected<void, SettingsStoreError> SettingsStore::setArray(std::string_view key,
                                                                nlohmann::json::array_t value) {
    return apply({{std::string(key), nlohmann::json(std::move(value))}});
}

std::expected<void, SettingsStoreError> SettingsStore::remove(std::string_view key) {
    return apply({{std::string(key), std::nullopt}});
}

std::optional<nlohmann::json> SettingsDocument::value(std::string_view key) const {
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SettingsDocument::apply(const std::vector<SettingsChange>& changes) {
    for (const auto& change : changes) {
        if (change.value) {
            values_.insert_or_assign(change.key, *change.value);
        } else {
            values_.erase(change.key);
        }
    }
}

std::optional<nlohmann::json> InMemorySettingsStore::value(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return document_.value(key);
}

std::expected<void, SettingsStoreError> InMemorySettingsStore::apply(
    const std::vector<SettingsChange>& changes) {
    std::lock_guard lock(mutex_);
    document_.apply(changes);
    return {};
}

nlohmann::json::object_t InMemorySettingsStore::values() const {
    std::lock_guard lock(mutex_);
    return document_.values();
}

}  // namespace kelvra
