// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusArgument>
#include <QDBusVariant>
#include <QIcon>
#include <QList>
#include <QString>
#include <QVariantMap>

namespace kelvra {

/// One size of an icon as StatusNotifierItem sends it: ARGB32 pixels in network byte order.
struct DBusImage {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using DBusImageList = QList<DBusImage>;

/// The icon at the sizes panels draw, for hosts that cannot look our icon up by name.
DBusImageList dbusImages(const QIcon& icon);

/// A StatusNotifierItem tooltip: icon name, icon, title and description.
struct DBusToolTip {
    QString iconName;
    DBusImageList images;
    QString title;
    QString description;
};

/// A menu entry and its properties, as DBusMenu reads them.
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemList = QList<DBusMenuItem>;

/// The properties an entry lost.
struct DBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

/// A menu entry with its children, each wrapped in a variant on the wire.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};

/// One event of a batch the host sends (a click, the menu opening).
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

/// Makes the types above known to Qt D-Bus; idempotent.
void registerDBusTrayTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const DBusImage& image);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusImage& image);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

}  // namespace kelvra

Q_DECLARE_METATYPE(kelvra::DBusImage)
Q_DECLARE_METATYPE(kelvra::DBusToolTip)
Q_DECLARE_METATYPE(kelvra::DBusMenuItem)
Q_DECLARE_METATYPE(kelvra::DBusMenuItemKeys)
Q_DECLARE_METATYPE(kelvra::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(kelvra::DBusMenuEvent)
