// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QPointer>

#include "tray/qt/linux/DBusTrayTypes.h"

class QAction;
class QMenu;

namespace kelvra {

/// Offers a `QMenu` to panels over DBusMenu (com.canonical.dbusmenu), so they draw it
/// themselves: each action's text, enabled state, icon, shortcut, separator and check state, kept
/// up to date as the actions change; a "clicked" event triggers the action. Entries keep their ids
/// for the life of the exporter; the root is 0.
class DBusMenuExporter final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuExporter(QMenu& menu, QObject* parent = nullptr);

    /// Puts the menu on `connection` at `path`; false when the path is taken.
    bool exportOn(QDBusConnection connection, const QString& path);

    uint version() const { return 3; }
    QString textDirection() const;
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

    /// What a host reads for `action`: its properties, or for names given only those.
    QVariantMap properties(QAction* action, const QStringList& names = {}) const;

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   kelvra::DBusMenuLayoutItem& layout);
    kelvra::DBusMenuItemList GetGroupProperties(const QList<int>& ids,
                                                const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const kelvra::DBusMenuEventList& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void ItemsPropertiesUpdated(const kelvra::DBusMenuItemList& updatedProps,
                                const kelvra::DBusMenuItemKeysList& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int idOf(QAction* action);
    QAction* actionOf(int id) const;
    bool handleEvent(int id, const QString& eventId);

    QMenu& menu_;
    QHash<QAction*, int> ids_;
    QHash<int, QPointer<QAction>> actions_;
    int nextId_ = 1;
    uint revision_ = 1;
};

}  // namespace kelvra
