// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <expected>
#include <string>

#include "core/Error.h"

namespace kelvra {

struct HttpResponse {
    long statusCode = 0;
    std::string body;
};

/// One HTTP GET with nothing kept afterwards: no cookies, cache, credentials or connection, and
/// no proxy (the address is always a local backend). Redirects are followed within http(s).
std::expected<HttpResponse, Error> httpGet(const std::string& url,
                                           std::chrono::milliseconds timeout);

}  // namespace kelvra
