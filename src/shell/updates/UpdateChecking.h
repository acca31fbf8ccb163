// SPDX-License-Identifier: MIT
#pragma once

#include <any>
#include <expected>
#include <optional>
#include <string>

#include "core/Error.h"
#include "shell/updates/UpdaterError.h"

namespace kelvra {

/// The user-interface object that asked for a check, or an empty value when none did.
using UpdateCheckSender = std::any;

/// What a check can start: the interactive entry the menu item uses.
class UpdateChecking {
public:
    virtual ~UpdateChecking() = default;
    virtual void checkForUpdates(UpdateCheckSender sender) = 0;
};

/// A release the update feed offers.
struct UpdateItem {
    std::string version;
    std::string build;
    /// The oldest system it runs on, as a GNU C Library version such as "2.36".
    std::optional<std::string> minimumSystemVersion;
    std::optional<std::string> releaseNotesURL;
    /// The page where the user downloads the release.
    std::string downloadURL;

    friend bool operator==(const UpdateItem&, const UpdateItem&) = default;
};

/// The kind of check that finished; the raw values are the update framework's.
enum class UpdateCheck {
    updates = 0,
    updatesInBackground = 1,
    updateInformation = 2,
};

/// The delegate of the updater: both callbacks come on the main thread.
class SparkleUpdaterDelegate {
public:
    virtual ~SparkleUpdaterDelegate() = default;
    /// A check found a newer release that runs here.
    virtual void didFindValidUpdate(const UpdateItem& item) = 0;
    /// A check ended: without an error when it found a valid update, else with its error
    /// (code 1001 when there simply was none).
    virtual void didFinishUpdateCycle(UpdateCheck check,
                                      const std::optional<UpdaterError>& error) = 0;
};

/// The update machinery behind `AppUpdater`.
class SparkleUpdaterControlling {
public:
    virtual ~SparkleUpdaterControlling() = default;

    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
    virtual std::expected<void, Error> startUpdater() = 0;
    /// A silent check that only finds out whether an update exists; shows nothing.
    virtual void checkForUpdateInformation() = 0;
    /// The interactive check: shows the update found, that there is none, or the error.
    virtual void checkForUpdates(UpdateCheckSender sender) = 0;
};

/// What the interactive check shows the user; called on the main thread, once per check.
class UpdateUserDriver {
public:
    virtual ~UpdateUserDriver() = default;
    /// Offers `item`, with a way to open its download page.
    virtual void showUpdateFound(const UpdateItem& item) = 0;
    /// Says that nothing newer can be installed; `noUpdate` (code 1001) tells why.
    virtual void showUpToDate(const UpdaterError& noUpdate) = 0;
    virtual void showUpdateError(const UpdaterError& error) = 0;
};

}  // namespace kelvra
