// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <expected>
#include <limits>
#include <string>

namespace kelvra {

/// One HTTP GET with nothing kept afterwards: no cookies, cache, credentials or connection.
/// Redirects are followed within `protocols`.
struct HttpRequest {
    std::string url;
    std::chrono::milliseconds timeout{0};
    /// Allowed for the request and every redirect, as libcurl spells them.
    std::string protocols = "http,https";
    /// Hosts reached directly rather than through the environment's proxy; "*" for all.
    std::string proxyExceptions = "*";
    /// Empty for none.
    std::string userAgent;
    std::size_t maximumBodyBytes = std::numeric_limits<std::size_t>::max();
    /// Set from another thread to end the request early.
    const std::atomic<bool>* cancelled = nullptr;
};

struct HttpResponse {
    long statusCode = 0;
    std::string body;
};

struct HttpFailure {
    enum class Kind { setUp, timedOut, cancelled, bodyTooLarge, transfer };
    Kind kind;
    /// libcurl's account of a transfer failure.
    std::string reason;
};

std::expected<HttpResponse, HttpFailure> httpGet(const HttpRequest& request);

}  // namespace kelvra
