// SPDX-License-Identifier: MIT
#include "server_config/ControlPageAddress.h"

#include <uriparser/Uri.h>

namespace kelvra {

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

std::string serverStatusText(const std::optional<std::string>& url) {
    return url ? "Running on " + controlPageHostAndPort(*url) : "Starting Kelvra Hub…";
}

}  // namespace kelvra
