// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kelvra {

/// A line the backend printed that breaks the desktop protocol.
class DesktopProtocolError {
public:
    enum class Kind {
        invalidUTF8,
        lineTooLong,
        malformedEvent,
        malformedReadiness,
        malformedClickerListener,
        malformedClickerDistributorState,
        malformedClickerDistributorUpdateResult,
    };

    DesktopProtocolError(Kind kind) : kind_(kind) {}

    Kind kind() const { return kind_; }
    std::string description() const;
    std::string diagnosticDescription() const;

    friend bool operator==(const DesktopProtocolError&, const DesktopProtocolError&) = default;

private:
    Kind kind_;
};

struct ClickerDistributorState {
    bool enabled = false;
    int64_t enabledGroupCount = 0;
    /// True exactly when `enabled` and `enabledGroupCount` > 0; the decoder enforces it.
    bool listenerRequired = false;

    friend bool operator==(const ClickerDistributorState&,
                           const ClickerDistributorState&) = default;
};

struct ClickerDistributorUpdateResult {
    std::string requestId;
    bool ok = false;
    bool enabled = false;
    std::optional<std::string> error;

    friend bool operator==(const ClickerDistributorUpdateResult&,
                           const ClickerDistributorUpdateResult&) = default;
};

/// The events a backend reports on its standard output.
namespace DesktopEvent {

struct Ready {
    /// The control page's address: http, a numeric host and an explicit port.
    std::string url;
    friend bool operator==(const Ready&, const Ready&) = default;
};

struct ClickerListener {
    bool enabled = false;
    friend bool operator==(const ClickerListener&, const ClickerListener&) = default;
};

/// A well-formed event of a kind this version does not know.
struct Unknown {
    friend bool operator==(const Unknown&, const Unknown&) = default;
};

}  // namespace DesktopEvent

using DesktopProtocolEvent =
    std::variant<DesktopEvent::Ready, DesktopEvent::ClickerListener, ClickerDistributorState,
                 ClickerDistributorUpdateResult, DesktopEvent::Unknown>;

/// The line protocol between the application and the backend: events are lines on the child's
/// standard output that start with "KELVRA_HUB_DESKTOP " and carry one JSON object; commands are
/// compact JSON objects, one per line, on its standard input.
namespace DesktopProtocol {

inline constexpr std::string_view kEventPrefix = "KELVRA_HUB_DESKTOP ";
inline constexpr std::string_view kShutdownCommand = "{\"command\":\"shutdown\"}\n";
inline constexpr size_t kMaximumRequestIdLength = 128;

/// Decodes one line of standard output (without its terminator): no event for ordinary output,
/// the event for a valid protocol line, an error for a protocol line that breaks the rules.
std::expected<std::optional<DesktopProtocolEvent>, DesktopProtocolError> parseEvent(
    std::string_view line);

/// The "set-clicker-distributor-enabled" command with its line feed; absent when the request
/// identifier is empty, longer than 128 user-perceived characters or not valid UTF-8.
std::optional<std::string> setClickerDistributorEnabledCommand(bool enabled,
                                                               std::string_view requestId);

/// The "clicker-key" command for a direction's wire value ("left" or "right").
std::string clickerKeyCommand(std::string_view direction);

/// The "clicker-action" command for an action's wire value, for example "progress-next".
std::string clickerActionCommand(std::string_view action);

/// Whether `host` is a numeric IPv4 or IPv6 address; IPv6 may stand in brackets.
bool isNumericIPAddress(std::string_view host);

}  // namespace DesktopProtocol
}  // namespace kelvra
