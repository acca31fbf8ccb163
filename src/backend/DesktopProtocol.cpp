// SPDX-License-Identifier: MIT
#include "backend/DesktopProtocol.h"

#include <arpa/inet.h>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <uriparser/Uri.h>

#include "core/StrictJson.h"
#include "core/Unicode.h"

namespace kelvra {

std::string DesktopProtocolError::description() const {
    switch (kind_) {
        case Kind::invalidUTF8:
            return "The Kelvra Hub server emitted invalid UTF-8 output.";
        case Kind::lineTooLong:
            return "The Kelvra Hub server emitted an output line longer than 65536 bytes.";
        case Kind::malformedEvent:
            return "The Kelvra Hub server emitted a malformed desktop event.";
        case Kind::malformedReadiness:
            return "The Kelvra Hub server returned an invalid readiness message.";
        case Kind::malformedClickerListener:
            return "The Kelvra Hub server returned an invalid Clicker Distributor listener state.";
        case Kind::malformedClickerDistributorState:
            return "The Kelvra Hub server returned an invalid Clicker Distributor state.";
        case Kind::malformedClickerDistributorUpdateResult:
            return "The Kelvra Hub server returned an invalid Clicker Distributor update result.";
    }
    return {};
}

std::string DesktopProtocolError::diagnosticDescription() const {
    switch (kind_) {
        case Kind::invalidUTF8:
            return "DesktopProtocolError.invalidUTF8";
        case Kind::lineTooLong:
            return "DesktopProtocolError.lineTooLong";
        case Kind::malformedEvent:
            return "DesktopProtocolError.malformedEvent";
        case Kind::malformedReadiness:
            return "DesktopProtocolError.malformedReadiness";
        case Kind::malformedClickerListener:
            return "DesktopProtocolError.malformedClickerListener";
        case Kind::malformedClickerDistributorState:
            return "DesktopProtocolError.malformedClickerDistributorState";
        case Kind::malformedClickerDistributorUpdateResult:
            return "DesktopProtocolError.malformedClickerDistributorUpdateResult";
    }
    return {};
}

namespace DesktopProtocol {
namespace {

using nlohmann::json;
using Kind = DesktopProtocolError::Kind;

const json* member(const json& object, const char* name) {
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

std::optional<bool> boolean(const json* value) {
    if (value == nullptr || !value->is_boolean()) {
        return std::nullopt;
    }
    return value->get<bool>();
}

/// A JSON number without a fractional part (3 and 3.0 alike) that fits in 64 signed bits.
std::optional<int64_t> integer(const json* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_number_integer()) {
        if (value->is_number_unsigned() &&
            value->get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            return std::nullopt;
        }
        return value->get<int64_t>();
    }
    if (value->is_number_float()) {
        const double number = value->get<double>();
        // 2^63 is the first double beyond the range; every smaller integral double converts.
        if (number != std::floor(number) || number < -9223372036854775808.0 ||
            number >= 9223372036854775808.0) {
            return std::nullopt;
        }
        return static_cast<int64_t>(number);
    }
    return std::nullopt;
}

std::optional<std::string> string(const json* value) {
    if (value == nullptr || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

std::string_view range(const UriTextRangeA& text) {
    if (text.first == nullptr || text.afterLast == nullptr) {
        return {};
    }
    return {text.first, static_cast<size_t>(text.afterLast - text.first)};
}

std::optional<std::string> readinessURL(const std::string& text) {
    UriUriA uri;
    const char* errorPosition = nullptr;
    if (uriParseSingleUriA(&uri, text.c_str(), &errorPosition) != URI_SUCCESS) {
        return std::nullopt;
    }
    struct Release {
        UriUriA* uri;
        ~Release() { uriFreeUriMembersA(uri); }
    } release{&uri};

    std::string scheme(range(uri.scheme));
    for (char& c : scheme) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (scheme != "http" || uri.userInfo.first != nullptr) {
        return std::nullopt;
    }
    const std::string_view host = range(uri.hostText);
    const std::string_view port = range(uri.portText);
    if (host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    const int portNumber = std::stoi(std::string(port));
    if (portNumber < 1 || portNumber > 65535 || !isNumericIPAddress(host)) {
        return std::nullopt;
    }
    // Everything after the scheme stays as sent; only the scheme is normalised.
    return "http" + text.substr(range(uri.scheme).size());
}

}  // namespace

std::expected<std::optional<DesktopProtocolEvent>, DesktopProtocolError> parseEvent(
    std::string_view line) {
    if (!line.starts_with(kEventPrefix)) {
        return std::nullopt;
    }
    // Depth-limited, like every JSON read from outside: no event nests deeply.
    const auto parsed = StrictJson::parseObject(line.substr(kEventPrefix.size()));
    if (!parsed) {
        return std::unexpected(Kind::malformedEvent);
    }
    const json object = *parsed;
    const auto event = string(member(object, "event"));
    if (!event) {
        return std::unexpected(Kind::malformedEvent);
    }

    if (*event == "ready") {
        const auto text = string(member(object, "url"));
        const auto url = text ? readinessURL(*text) : std::nullopt;
        if (!url) {
            return std::unexpected(Kind::malformedReadiness);
        }
        return DesktopEvent::Ready{*url};
    }
    if (*event == "clicker-listener") {
        const auto enabled = boolean(member(object, "enabled"));
        if (!enabled) {
            return std::unexpected(Kind::malformedClickerListener);
        }
        return DesktopEvent::ClickerListener{*enabled};
    }
    if (*event == "clicker-distributor-state") {
        const auto enabled = boolean(member(object, "enabled"));
        const auto listenerRequired = boolean(member(object, "listenerRequired"));
        const auto count = integer(member(object, "enabledGroupCount"));
        if (!enabled || !listenerRequired || !count || *count < 0 ||
            *listenerRequired != (*enabled && *count > 0)) {
            return std::unexpected(Kind::malformedClickerDistributorState);
        }
        return ClickerDistributorState{*enabled, *count, *listenerRequired};
    }
    if (*event == "clicker-distributor-update-result") {
        const auto requestId = string(member(object, "requestId"));
        const auto ok = boolean(member(object, "ok"));
        const auto enabled = boolean(member(object, "enabled"));
        const json* errorMember = member(object, "error");
        const auto error = string(errorMember);
        if (!requestId || requestId->empty() ||
            Unicode::userPerceivedCharacterCount(*requestId) > kMaximumRequestIdLength || !ok ||
            !enabled || (errorMember != nullptr && !error)) {
            return std::unexpected(Kind::malformedClickerDistributorUpdateResult);
        }
        return ClickerDistributorUpdateResult{*requestId, *ok, *enabled, error};
    }
    return DesktopEvent::Unknown{};
}

std::optional<std::string> setClickerDistributorEnabledCommand(bool enabled,
                                                               std::string_view requestId) {
    if (requestId.empty() || !Unicode::isValidUTF8(requestId) ||
        Unicode::userPerceivedCharacterCount(requestId) > kMaximumRequestIdLength) {
        return std::nullopt;
    }
    const json command = {
        {"command", "set-clicker-distributor-enabled"},
        {"requestId", std::string(requestId)},
        {"enabled", enabled},
    };
    return command.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string clickerKeyCommand(std::string_view direction) {
    return std::string("{\"command\":\"clicker-key\",\"direction\":\"") + std::string(direction) +
           "\",\"consumed\":true}\n";
}

std::string clickerActionCommand(std::string_view action) {
    return std::string("{\"command\":\"clicker-action\",\"action\":\"") + std::string(action) +
           "\",\"consumed\":true}\n";
}

bool isNumericIPAddress(std::string_view host) {
    std::string address(host);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, address.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

}  // namespace DesktopProtocol
}  // namespace kelvra
