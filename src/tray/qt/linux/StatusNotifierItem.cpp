// SPDX-License-Identifier: MIT
#include "tray/qt/linux/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QGuiApplication>

#include "tray/qt/linux/TrayHost.h"

namespace kelvra {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");

// A name of its own per item, as the protocol asks: the watcher drops the item with the name.
QString nextServiceName() {
    static int count = 0;
    return QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
        .arg(QCoreApplication::applicationPid())
        .arg(++count);
}

constexpr QDBusConnection::RegisterOptions kExported = QDBusConnection::ExportAllSlots |
                                                       QDBusConnection::ExportAllSignals |
                                                       QDBusConnection::ExportAllProperties;

}  // namespace

StatusNotifierItem::StatusNotifierItem(QMenu& menu, Icon icon, QObject* parent)
    : QObject(parent),
      bus_(QDBusConnection::sessionBus()),
      serviceName_(nextServiceName()),
      icon_(std::move(icon)),
      pixmaps_(dbusImages(icon_.icon)),
      menu_(menu) {
    registerDBusTrayTypes();
}

StatusNotifierItem::~StatusNotifierItem() {
    hide();
}

void StatusNotifierItem::show() {
    if (shown_ || !bus_.isConnected()) {
        return;
    }
    shown_ = true;
    bus_.registerObject(kItemPath, this, kExported);
    menu_.exportOn(bus_, kMenuPath);
    bus_.registerService(serviceName_);
    watcher_ =
        new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty()) {
                    setDocked(false);
                } else {
                    registerWithWatcher();  // a new or restarted panel knows nothing of us
                }
            });
    bus_.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostRegistered"),
                 this, SLOT(onHostRegistered()));
    registerWithWatcher();
}

void StatusNotifierItem::hide() {
    if (!shown_) {
        return;
    }
    shown_ = false;
    delete watcher_;
    watcher_ = nullptr;
    bus_.disconnect(kWatcher, kWatcherPath, kWatcher,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(onHostRegistered()));
    // The watcher forgets an item whose name goes.
    bus_.unregisterService(serviceName_);
    bus_.unregisterObject(kItemPath);
    bus_.unregisterObject(kMenuPath);
    setDocked(false);
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, kWatcher, QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (shown_) {
                    setDocked(!reply->isError() && statusNotifierHostPresent());
                }
            });
}

void StatusNotifierItem::onHostRegistered() {
    // A panel joined a watcher that already holds the item.
    if (shown_) {
        registerWithWatcher();
    }
}

void StatusNotifierItem::setDocked(bool docked) {
    if (docked_ != docked) {
        docked_ = docked;
        emit dockedChanged(docked);
    }
}

void StatusNotifierItem::setToolTip(const QString& toolTip) {
    if (toolTip_ != toolTip) {
        toolTip_ = toolTip;
        emit NewToolTip();
    }
}

QString StatusNotifierItem::id() const {
    return QGuiApplication::desktopFileName().isEmpty() ? QCoreApplication::applicationName()
                                                        : QGuiApplication::desktopFileName();
}

QString StatusNotifierItem::title() const {
    return QGuiApplication::applicationDisplayName();
}

DBusToolTip StatusNotifierItem::toolTip() const {
    return DBusToolTip{.iconName = icon_.name, .images = {}, .title = toolTip_, .description = {}};
}

QDBusObjectPath StatusNotifierItem::menuPath() const {
    return QDBusObjectPath(kMenuPath);
}

void StatusNotifierItem::ContextMenu(int x, int y) {
    emit activationRequested(QPoint(x, y));
}

void StatusNotifierItem::Activate(int x, int y) {
    emit activationRequested(QPoint(x, y));
}

void StatusNotifierItem::SecondaryActivate(int x, int y) {
    emit activationRequested(QPoint(x, y));
}

void StatusNotifierItem::Scroll(int, const QString&) {}

}  // namespace kelvra
