// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

namespace kelvra {

/// The state of the application's login item; the raw values are the platform's.
enum class LoginItemStatus : int32_t {
    notRegistered = 0,
    enabled = 1,
    /// Registered, but switched off by the user in the desktop's startup settings.
    requiresApproval = 2,
    /// The application cannot be registered from where it runs.
    notFound = 3,
};

/// Why the login item could not be changed.
class LoginItemError {
public:
    enum class Kind {
        executableNotFound,
        unrepresentableExecutable,
        readEntry,
        writeEntry,
        removeEntry
    };

    LoginItemError(Kind kind, std::filesystem::path path, int errorNumber = 0)
        : kind_(kind), path_(std::move(path)), errorNumber_(errorNumber) {}

    Kind kind() const { return kind_; }
    /// The entry file, or the executable for `unrepresentableExecutable`.
    const std::filesystem::path& path() const { return path_; }
    int errorNumber() const { return errorNumber_; }

    std::string description() const;
    std::string diagnosticDescription() const;

    friend bool operator==(const LoginItemError&, const LoginItemError&) = default;

private:
    Kind kind_;
    std::filesystem::path path_;
    int errorNumber_;
};

/// The operating system's login item for this application.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    virtual LoginItemStatus status() const = 0;
    /// Registers the application to run at login. (`register` is a C++ keyword.)
    virtual std::expected<void, LoginItemError> registerItem() = 0;
    /// Removes the registration.
    virtual std::expected<void, LoginItemError> unregister() = 0;
    /// Opens the desktop's settings page for login items, where the platform has one; otherwise
    /// does nothing.
    virtual void openSystemSettingsLoginItems() = 0;
};

}  // namespace kelvra
