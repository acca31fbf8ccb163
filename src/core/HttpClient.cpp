// SPDX-License-Identifier: MIT
#include "core/HttpClient.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace kelvra {
namespace {

struct Transfer {
    const HttpRequest& request;
    std::string body;
    bool tooLarge = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    if (size * count > transfer.request.maximumBodyBytes - transfer.body.size()) {
        transfer.tooLarge = true;
        return 0;  // makes libcurl stop with a write error
    }
    transfer.body.append(data, size * count);
    return size * count;
}

int progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancelled = static_cast<Transfer*>(context)->request.cancelled;
    return cancelled != nullptr && cancelled->load() ? 1 : 0;
}

}  // namespace

std::expected<HttpResponse, HttpFailure> httpGet(const HttpRequest& request) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                                     curl_easy_cleanup);
    if (!handle) {
        return std::unexpected(HttpFailure{HttpFailure::Kind::setUp, "no libcurl handle"});
    }
    Transfer transfer{request, {}};
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* curl = handle.get();
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, request.proxyExceptions.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, request.protocols.c_str());
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, request.protocols.c_str());
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    if (!request.userAgent.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERAGENT, request.userAgent.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        auto kind = HttpFailure::Kind::transfer;
        if (transfer.tooLarge) {
            kind = HttpFailure::Kind::bodyTooLarge;
        } else if (result == CURLE_OPERATION_TIMEDOUT) {
            kind = HttpFailure::Kind::timedOut;
        } else if (result == CURLE_ABORTED_BY_CALLBACK) {
            kind = HttpFailure::Kind::cancelled;
        }
        return std::unexpected(
            HttpFailure{kind, errorText[0] != '\0' ? errorText : curl_easy_strerror(result)});
    }
    HttpResponse response;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.statusCode);
    response.body = std::move(transfer.body);
    return response;
}

}  // namespace kelvra
