// SPDX-License-Identifier: MIT
#include "server_config/ServerStatus.h"

#include <uriparser/Uri.h>

namespace kelvra {
namespace {

constexpr std::string_view kStarting = "Starting Kelvra Hub…";

std::string runningOn(const std::string& url) {
    return "Running on " + controlPageHostAndPort(url);
}

}  // namespace

std::string controlPageHostAndPort(std::string_view url) {
    std::string host = "localhost";
    std::string port = "80";
    const std::string text(url);
    UriUriA uri;
    const char* errorPosition = nullptr;
    if (uriParseSingleUriA(&uri, text.c_str(), &errorPosition) == URI_SUCCESS) {
        if (uri.hostText.first != nullptr && uri.hostText.afterLast != uri.hostText.first) {
            host.assign(uri.hostText.first, uri.hostText.afterLast);
        }
        if (uri.portText.first != nullptr && uri.portText.afterLast != uri.portText.first) {
            port.assign(uri.portText.first, uri.portText.afterLast);
        }
        uriFreeUriMembersA(&uri);
    }
    return host + ":" + port;
}

std::string ServerStatus::trayText() const {
    switch (phase_) {
        case Phase::starting:
            return std::string(kStarting);
        case Phase::restarting:
        case Phase::applying:
            return "Restarting Kelvra Hub…";
        case Phase::running:
            return runningOn(*url_);
        case Phase::failed:
            return "Kelvra Hub server error";
    }
    return {};
}

std::string ServerStatus::settingsText() const {
    switch (phase_) {
        case Phase::applying:
            return "Applying server settings…";
        case Phase::running:
            return runningOn(*url_);
        case Phase::starting:
        case Phase::restarting:
        case Phase::failed:
            return std::string(kStarting);
    }
    return {};
}

}  // namespace kelvra
