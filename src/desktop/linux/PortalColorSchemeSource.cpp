// SPDX-License-Identifier: MIT
#include "desktop/linux/PortalColorSchemeSource.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QUuid>
#include <QVariantList>

namespace kelvra {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");
// The portal starts on demand; a desktop whose portal hangs must not hold the start for long.
constexpr int kReplyTimeoutMs = 3000;

/// The scheme a portal value names. Read wraps the value in one variant more than ReadOne; the
/// portal counts values it does not know as no preference.
std::optional<ColorScheme> schemeOf(QVariant value) {
    for (int layer = 0; layer < 2 && value.metaType() == QMetaType::fromType<QDBusVariant>();
         ++layer) {
        value = qvariant_cast<QDBusVariant>(value).variant();
    }
    if (value.metaType() != QMetaType::fromType<uint>()) {
        return std::nullopt;
    }
    switch (value.toUInt()) {
        case 1:
            return ColorScheme::preferDark;
        case 2:
            return ColorScheme::preferLight;
        default:
            return ColorScheme::noPreference;
    }
}

}  // namespace

PortalColorSchemeSource::PortalColorSchemeSource(const QString& busAddress)
    : privateBus_(!busAddress.isEmpty()),
      bus_(privateBus_ ? QDBusConnection::connectToBus(busAddress, QUuid::createUuid().toString())
                       : QDBusConnection::sessionBus()) {}

PortalColorSchemeSource::~PortalColorSchemeSource() {
    if (privateBus_) {
        QDBusConnection::disconnectFromBus(bus_.name());
    }
}

std::optional<ColorScheme> PortalColorSchemeSource::current() {
    QDBusMessage reply = read(QStringLiteral("ReadOne"));
    if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")) {
        reply = read(QStringLiteral("Read"));  // a portal from before ReadOne
    }
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        return std::nullopt;
    }
    return schemeOf(reply.arguments().front());
}

void PortalColorSchemeSource::onChange(std::function<void(ColorScheme)> changed) {
    changed_ = std::move(changed);
    bus_.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                 SLOT(settingChanged(QDBusMessage)));
}

void PortalColorSchemeSource::settingChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() != 3 || arguments[0].toString() != kNamespace ||
        arguments[1].toString() != kKey || !changed_) {
        return;
    }
    if (const auto scheme = schemeOf(arguments[2])) {
        changed_(*scheme);
    }
}

QDBusMessage PortalColorSchemeSource::read(const QString& method) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call << kNamespace << kKey;
    return bus_.call(call, QDBus::Block, kReplyTimeoutMs);
}

std::unique_ptr<ColorSchemeSource> makePortalColorSchemeSource(const QString& busAddress) {
    return std::make_unique<PortalColorSchemeSource>(busAddress);
}

}  // namespace kelvra
