// SPDX-License-Identifier: MIT
#include "windows/ServerAddressText.h"

#include <QUrl>

namespace kelvra {

QString serverHostAndPort(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url));
    const QString host = parsed.host().isEmpty() ? QStringLiteral("localhost") : parsed.host();
    return host + QLatin1Char(':') + QString::number(serverPort(url).value_or(80));
}

std::optional<int> serverPort(const std::string& url) {
    const int port = QUrl(QString::fromStdString(url)).port();
    return port < 0 ? std::nullopt : std::optional(port);
}

}  // namespace kelvra
