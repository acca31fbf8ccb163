// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvra {

/// "host:port" of a control-page URL as the user is shown where the server runs: "localhost"
/// when the URL names no host, 80 when it names no port. Both read from text that does not
/// parse as a URL.
std::string controlPageHostAndPort(std::string_view url);

/// The server as every view shows it: the tray's status line, the Settings window's server row
/// and the Welcome window's address all render this one value, and its texts live here alone.
class ServerStatus {
public:
    enum class Phase {
        /// The first server is on its way.
        starting,
        /// The server is going away for a restart, or coming back from one.
        restarting,
        /// Settings the person chose are being applied: from the request until the new (or the
        /// restored) server is ready or the apply has failed.
        applying,
        running,
        /// The server failed for good; the application ends.
        failed,
    };

    static ServerStatus starting() { return ServerStatus(Phase::starting); }
    static ServerStatus restarting() { return ServerStatus(Phase::restarting); }
    static ServerStatus applying() { return ServerStatus(Phase::applying); }
    static ServerStatus running(std::string url) {
        return ServerStatus(Phase::running, std::move(url));
    }
    static ServerStatus failed() { return ServerStatus(Phase::failed); }

    Phase phase() const { return phase_; }
    /// The control page's address; only while running.
    const std::optional<std::string>& url() const { return url_; }

    /// The tray's status line: "Starting Kelvra Hub…", "Restarting Kelvra Hub…" (an apply too),
    /// "Running on host:port", or "Kelvra Hub server error".
    std::string trayText() const;
    /// The Settings window's server row: "Applying server settings…" through an apply,
    /// "Running on host:port" while ready, otherwise "Starting Kelvra Hub…".
    std::string settingsText() const;

    friend bool operator==(const ServerStatus&, const ServerStatus&) = default;

private:
    explicit ServerStatus(Phase phase, std::optional<std::string> url = std::nullopt)
        : phase_(phase), url_(std::move(url)) {}

    Phase phase_;
    std::optional<std::string> url_;
};

}  // namespace kelvra
