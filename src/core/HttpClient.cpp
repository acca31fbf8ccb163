// SPDX-License-Identifier: MIT
#include "core/HttpClient.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace kelvra {
namespace {

size_t appendBody(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

}  // namespace

std::expected<HttpResponse, Error> httpGet(const std::string& url,
                                           std::chrono::milliseconds timeout) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                                     curl_easy_cleanup);
    if (!handle) {
        return std::unexpected(Error("Kelvra Hub could not prepare an HTTP request.",
                                     "HttpError.initialisationFailed"));
    }
    HttpResponse response;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* curl = handle.get();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        const std::string reason = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
        return std::unexpected(Error(
            "The request to " + url + " failed: " + reason + ".",
            "HttpError(curl " + std::to_string(result) + ": " + reason + ", " + quoted(url) + ")"));
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.statusCode);
    return response;
}

}  // namespace kelvra
