// SPDX-License-Identifier: MIT
#include "windows/ServerAddressText.h"

#include <QUrl>

namespace kelvra {

QString serverHostAndPort(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url));
    const QString host = parsed.host().isEmpty() ? QStringLiteral("localhost") : parsed.host();
    return host + QLatin1Char(':') + QString::number(parsed.port(80));
}

}  // namespace kelvra
