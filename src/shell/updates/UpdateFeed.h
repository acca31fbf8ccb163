// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <compare>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "core/Environment.h"
#include "shell/updates/BundleInfo.h"
#include "shell/updates/UpdateChecking.h"
#include "shell/updates/UpdaterError.h"

/// The update feed: one small JSON object at a fixed address that describes the latest release
/// (see the README for its fields). A check fetches it, reads it strictly and offers the release
/// when it is newer than the running one and runs on this system.
namespace kelvra::UpdateFeed {

/// The environment variable that overrides the feed address.
inline constexpr const char* kFeedAddressVariable = "KELVRA_HUB_UPDATE_FEED_URL";
/// Loopback is never reached through a proxy.
inline constexpr const char* kLoopbackHosts = "localhost,127.0.0.1,::1";
/// Largest feed read; anything larger was not published by us.
inline constexpr size_t kMaximumFeedBytes = 256 * 1024;

/// What a check compares against and how long it may take.
struct CheckConfiguration {
    std::string feedURL;
    std::string installedVersion;
    std::string installedBuild;
    /// This system's version in the feed's terms; absent skips the minimum-system test.
    std::optional<std::string> systemVersion;
    std::chrono::milliseconds timeout{20000};
    /// Hosts reached without the proxy that the environment may name (libcurl's list syntax).
    std::string proxyExceptions{kLoopbackHosts};

    /// The feed address (`kFeedAddressVariable` when set and not empty, else "SUFeedURL"), the
    /// installed version and build from `infoDictionary`, this system's C library version, and
    /// the environment's "no_proxy" besides loopback.
    static CheckConfiguration standard(const InfoDictionary& infoDictionary,
                                       const Environment& environment);
};

/// Whether `text` is an "http://" or "https://" address with a host that is a valid URI (so it
/// holds no space, control character, quote or angle bracket).
bool isWebAddress(std::string_view text);

/// Compares dotted version numbers ("1.10.2") component by component as numbers of any size; a
/// missing component counts as 0, so "1.2" equals "1.2.0". Absent when either is not such a
/// number.
std::optional<std::strong_ordering> compareVersions(std::string_view left, std::string_view right);

/// Reads a feed's body. Fails with `malformedFeed` when it is not one JSON object,
/// `missingFeedField` or `invalidFeedField` for a required field that is absent or wrong, and
/// for an optional one that is present but wrong. The addresses in a feed read from an https
/// `feedURL` must be https too.
std::expected<UpdateItem, UpdaterError> parse(std::string_view body, const std::string& feedURL);

/// `item` when it is newer than the installed release and runs on this system; otherwise the
/// `noUpdateFound` error that says why.
std::expected<UpdateItem, UpdaterError> evaluate(const UpdateItem& item,
                                                 const CheckConfiguration& configuration);

/// Fetches, reads and evaluates the feed; blocks for up to the configured timeout. Ends early
/// with `networkFailure` when `cancelled` becomes true.
std::expected<UpdateItem, UpdaterError> check(const CheckConfiguration& configuration,
                                              const std::atomic<bool>* cancelled = nullptr);

}  // namespace kelvra::UpdateFeed
