// SPDX-License-Identifier: MIT
#include "shell/updates/UpdateFeed.h"

#include <algorithm>
#include <gnu/libc-version.h>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <uriparser/Uri.h>
#include <vector>

#include "core/HttpClient.h"
#include "core/SettingsStore.h"
#include "core/StrictJson.h"

namespace kelvra::UpdateFeed {
namespace {

using json = nlohmann::json;

std::optional<std::vector<std::string_view>> versionComponents(std::string_view version) {
    std::vector<std::string_view> components;
    while (true) {
        const auto dot = version.find('.');
        const auto component = version.substr(0, dot);
        if (component.empty() || !std::all_of(component.begin(), component.end(),
                                              [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        components.push_back(component);
        if (dot == std::string_view::npos) {
            return components;
        }
        version.remove_prefix(dot + 1);
    }
}

/// Decimal digit strings compared as numbers, whatever their length.
std::strong_ordering compareNumbers(std::string_view left, std::string_view right) {
    const auto significant = [](std::string_view digits) {
        const auto first = digits.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view() : digits.substr(first);
    };
    left = significant(left);
    right = significant(right);
    if (left.size() != right.size()) {
        return left.size() <=> right.size();
    }
    return left.compare(right) <=> 0;
}

/// How a field must look, besides being a string.
enum class FieldRule { version, webAddress, secureWebAddress };

bool follows(const std::string& value, FieldRule rule) {
    switch (rule) {
        case FieldRule::version:
            return versionComponents(value).has_value();
        case FieldRule::webAddress:
            return isWebAddress(value);
        case FieldRule::secureWebAddress:
            return isWebAddress(value) && value.starts_with("https://");
    }
    return false;
}

std::expected<std::optional<std::string>, UpdaterError> field(const json::object_t& feed,
                                                              const std::string& feedURL,
                                                              const std::string& name,
                                                              FieldRule rule) {
    const auto entry = feed.find(name);
    if (entry == feed.end() || entry->second.is_null()) {
        return std::nullopt;
    }
    if (!entry->second.is_string()) {
        return std::unexpected(
            UpdaterError::invalidFeedField(feedURL, name, entry->second.dump(-1, ' ', true)));
    }
    const auto& value = entry->second.get_ref<const std::string&>();
    if (!follows(value, rule)) {
        return std::unexpected(
            UpdaterError::invalidFeedField(feedURL, name, json(value).dump(-1, ' ', true)));
    }
    return value;
}

std::expected<std::string, UpdaterError> requiredField(const json::object_t& feed,
                                                       const std::string& feedURL,
                                                       const std::string& name, FieldRule rule) {
    auto value = field(feed, feedURL, name, rule);
    if (!value) {
        return std::unexpected(value.error());
    }
    if (!*value) {
        return std::unexpected(UpdaterError::missingFeedField(feedURL, name));
    }
    return std::move(**value);
}

std::expected<std::string, UpdaterError> fetch(const CheckConfiguration& configuration,
                                               const std::atomic<bool>* cancelled) {
    const std::string& url = configuration.feedURL;
    if (!isWebAddress(url)) {
        return std::unexpected(UpdaterError::invalidFeedAddress(url));
    }
    HttpRequest request;
    request.url = url;
    request.timeout = configuration.timeout;
    // A secure feed may only redirect to secure addresses.
    request.protocols = url.starts_with("https://") ? "https" : "http,https";
    request.proxyExceptions = configuration.proxyExceptions;
    request.userAgent = "Kelvra Hub/" + configuration.installedVersion;
    request.maximumBodyBytes = kMaximumFeedBytes;
    request.cancelled = cancelled;
    auto response = httpGet(request);
    if (!response) {
        switch (response.error().kind) {
            case HttpFailure::Kind::setUp:
                return std::unexpected(
                    UpdaterError::networkFailure(url, "the request could not be set up"));
            case HttpFailure::Kind::bodyTooLarge:
                return std::unexpected(UpdaterError::malformedFeed(
                    url, "it is larger than " + std::to_string(kMaximumFeedBytes / 1024) + " KiB"));
            case HttpFailure::Kind::timedOut:
                return std::unexpected(UpdaterError::feedTimeout(url, configuration.timeout));
            case HttpFailure::Kind::cancelled:
                return std::unexpected(
                    UpdaterError::networkFailure(url, "the check was cancelled"));
            case HttpFailure::Kind::transfer:
                break;
        }
        return std::unexpected(UpdaterError::networkFailure(url, response.error().reason));
    }
    if (response->statusCode != 200) {
        return std::unexpected(UpdaterError::feedUnavailable(url, response->statusCode));
    }
    return std::move(response->body);
}

}  // namespace

CheckConfiguration CheckConfiguration::standard(const InfoDictionary& infoDictionary,
                                                const Environment& environment) {
    const auto text = [&](std::string_view key) {
        const auto entry = infoDictionary.find(key);
        const auto* value =
            entry == infoDictionary.end() ? nullptr : std::any_cast<std::string>(&entry->second);
        return value != nullptr ? *value : std::string();
    };
    CheckConfiguration configuration;
    const auto overridden = environmentValue(environment, kFeedAddressVariable);
    configuration.feedURL = overridden && !overridden->empty() ? *overridden : text("SUFeedURL");
    configuration.installedVersion = text("CFBundleShortVersionString");
    configuration.installedBuild = text("CFBundleVersion");
    configuration.systemVersion = gnu_get_libc_version();
    auto exceptions = environmentValue(environment, "no_proxy");
    if (!exceptions || exceptions->empty()) {
        exceptions = environmentValue(environment, "NO_PROXY");
    }
    // libcurl reads "*" as "no proxy at all" only when it stands alone.
    if (exceptions == "*") {
        configuration.proxyExceptions = "*";
    } else if (exceptions && !exceptions->empty()) {
        configuration.proxyExceptions = std::string(kLoopbackHosts) + "," + *exceptions;
    }
    return configuration;
}

bool isWebAddress(std::string_view text) {
    if (!text.starts_with("https://") && !text.starts_with("http://")) {
        return false;
    }
    // A valid URI holds no space, quote or angle bracket, so it reads the same in any text.
    UriUriA uri;
    const char* errorPosition = nullptr;
    if (uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPosition) !=
        URI_SUCCESS) {
        return false;
    }
    const bool hasHost = uri.hostText.first != uri.hostText.afterLast;
    uriFreeUriMembersA(&uri);
    return hasHost;
}

std::optional<std::strong_ordering> compareVersions(std::string_view left, std::string_view right) {
    const auto leftComponents = versionComponents(left);
    const auto rightComponents = versionComponents(right);
    if (!leftComponents || !rightComponents) {
        return std::nullopt;
    }
    const size_t count = std::max(leftComponents->size(), rightComponents->size());
    for (size_t index = 0; index < count; ++index) {
        const auto order =
            compareNumbers(index < leftComponents->size() ? (*leftComponents)[index] : "0",
                           index < rightComponents->size() ? (*rightComponents)[index] : "0");
        if (order != 0) {
            return order;
        }
    }
    return std::strong_ordering::equal;
}

std::expected<UpdateItem, UpdaterError> parse(std::string_view body, const std::string& feedURL) {
    const auto feed = StrictJson::parseObject(body);
    if (!feed) {
        return std::unexpected(UpdaterError::malformedFeed(feedURL, "it is not a JSON object"));
    }
    // A feed that came over https may not send the user to a page that does not.
    const FieldRule address =
        feedURL.starts_with("https://") ? FieldRule::secureWebAddress : FieldRule::webAddress;
    auto version = requiredField(*feed, feedURL, "version", FieldRule::version);
    auto build = version ? requiredField(*feed, feedURL, "build", FieldRule::version) : version;
    auto downloadURL = build ? requiredField(*feed, feedURL, "downloadURL", address) : build;
    if (!downloadURL) {
        return std::unexpected(downloadURL.error());
    }
    auto minimumSystemVersion = field(*feed, feedURL, "minimumSystemVersion", FieldRule::version);
    if (!minimumSystemVersion) {
        return std::unexpected(minimumSystemVersion.error());
    }
    auto releaseNotesURL = field(*feed, feedURL, "releaseNotesURL", address);
    if (!releaseNotesURL) {
        return std::unexpected(releaseNotesURL.error());
    }
    return UpdateItem{std::move(*version), std::move(*build), std::move(*minimumSystemVersion),
                      std::move(*releaseNotesURL), std::move(*downloadURL)};
}

std::expected<UpdateItem, UpdaterError> evaluate(const UpdateItem& item,
                                                 const CheckConfiguration& configuration) {
    // A running version that is not a number (never so in a real build) is older than any.
    auto order = compareVersions(item.version, configuration.installedVersion)
                     .value_or(std::strong_ordering::greater);
    if (order == 0) {
        order = compareVersions(item.build, configuration.installedBuild)
                    .value_or(std::strong_ordering::greater);
    }
    if (order <= 0) {
        return std::unexpected(UpdaterError::noUpdateFound(configuration.installedVersion));
    }
    if (item.minimumSystemVersion && configuration.systemVersion &&
        compareVersions(*configuration.systemVersion, *item.minimumSystemVersion)
                .value_or(std::strong_ordering::equal) < 0) {
        return std::unexpected(UpdaterError::noUpdateFound(
            configuration.installedVersion,
            "Kelvra Hub " + item.version + " is available but needs a newer system (GNU C " +
                "Library " + *item.minimumSystemVersion + " or later; this computer has " +
                *configuration.systemVersion + ")."));
    }
    return item;
}

std::expected<UpdateItem, UpdaterError> check(const CheckConfiguration& configuration,
                                              const std::atomic<bool>* cancelled) {
    const auto body = fetch(configuration, cancelled);
    if (!body) {
        return std::unexpected(body.error());
    }
    const auto item = parse(*body, configuration.feedURL);
    if (!item) {
        return std::unexpected(item.error());
    }
    return evaluate(*item, configuration);
}

}  // namespace kelvra::UpdateFeed
