// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QPoint>

#include "tray/qt/linux/DBusMenuExporter.h"
#include "tray/qt/linux/DBusTrayTypes.h"

class QDBusServiceWatcher;
class QMenu;

namespace kelvra {

/// Our item on a StatusNotifierItem panel, owned over Qt D-Bus so that it can say what Qt's
/// own item cannot: that it is a menu (so panels show the menu on a left click themselves),
/// its icon by name with the theme path that holds it, its status, category and id. The menu
/// goes out over DBusMenu. Once shown, the item follows the panel's watcher for the whole run:
/// a watcher that appears or restarts gets the item again.
class StatusNotifierItem final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(kelvra::DBusImageList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyName)
    Q_PROPERTY(kelvra::DBusImageList OverlayIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionIconName READ emptyName)
    Q_PROPERTY(kelvra::DBusImageList AttentionIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionMovieName READ emptyName)
    Q_PROPERTY(kelvra::DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menuPath)

public:
    /// How the item looks: its icon, also by name in the theme under `iconThemePath` (a
    /// directory holding icon themes; empty when only the installed themes have it).
    struct Icon {
        QIcon icon;
        QString name;
        QString themePath;
    };

    StatusNotifierItem(QMenu& menu, Icon icon, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    /// Offers the item to the watcher now and whenever one appears; `hide()` withdraws it.
    void show();
    void hide();
    /// Whether a watcher with a panel (host) took the item.
    bool isDocked() const { return docked_; }

    void setToolTip(const QString& toolTip);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const;
    QString title() const;
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return icon_.name; }
    QString iconThemePath() const { return icon_.themePath; }
    DBusImageList iconPixmap() const { return pixmaps_; }
    QString emptyName() const { return {}; }
    DBusImageList noImages() const { return {}; }
    DBusToolTip toolTip() const;
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menuPath() const;

public slots:
    void ContextMenu(int x, int y);
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    /// A click the panel left to us, at screen coordinates (0, 0 when it gave none).
    void activationRequested(QPoint position);
    void dockedChanged(bool docked);

    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private slots:
    void onHostRegistered();

private:
    void registerWithWatcher();
    void setDocked(bool docked);

    QDBusConnection bus_;
    const QString serviceName_;
    Icon icon_;
    DBusImageList pixmaps_;
    QString toolTip_;
    DBusMenuExporter menu_;
    QDBusServiceWatcher* watcher_ = nullptr;
    bool shown_ = false;
    bool docked_ = false;
};

}  // namespace kelvra
