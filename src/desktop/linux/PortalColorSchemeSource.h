// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include "desktop/ColorSchemeSource.h"

namespace kelvra {

/// The appearance's colour scheme from the XDG settings portal.
class PortalColorSchemeSource final : public QObject, public ColorSchemeSource {
    Q_OBJECT

public:
    explicit PortalColorSchemeSource(const QString& busAddress);
    ~PortalColorSchemeSource() override;

    std::optional<ColorScheme> current() override;
    void onChange(std::function<void(ColorScheme)> changed) override;

    // Public, and taking the message whole: Qt D-Bus connects no other kind of slot here.
public Q_SLOTS:
    void settingChanged(const QDBusMessage& message);

private:
    QDBusMessage read(const QString& method);

    const bool privateBus_;
    QDBusConnection bus_;
    std::function<void(ColorScheme)> changed_;
};

}  // namespace kelvra
