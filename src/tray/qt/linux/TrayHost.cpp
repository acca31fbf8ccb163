// SPDX-License-Identifier: MIT
#include "tray/qt/linux/TrayHost.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>

namespace kelvra {
namespace {

constexpr int kBusTimeoutMilliseconds = 1000;

// Qt's own connection: asking needs no X client of its own.
xcb_connection_t* qtConnection() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* connection, const std::string& name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, name.size(), name.c_str()),
                              nullptr),
        std::free);
    return atom ? atom->atom : XCB_NONE;
}

// The tray selection of the screen we show on.
xcb_atom_t traySelection(xcb_connection_t* connection) {
    char* host = nullptr;
    int display = 0;
    int screen = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0) {
        return XCB_NONE;
    }
    std::free(host);
    return internAtom(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(screen));
}

}  // namespace

bool statusNotifierHostPresent() {
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcher)) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kBusTimeoutMilliseconds);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

bool xembedTrayPresent() {
    xcb_connection_t* connection = qtConnection();
    if (connection == nullptr) {
        return false;
    }
    const xcb_atom_t selection = traySelection(connection);
    if (selection == XCB_NONE) {
        return false;
    }
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection),
                                      nullptr),
        std::free);
    return owner && owner->owner != XCB_NONE;
}

XEmbedTrayWatch::XEmbedTrayWatch(QObject* parent) : QObject(parent) {
    xcb_connection_t* connection = qtConnection();
    if (connection == nullptr) {
        return;
    }
    // Qt listens to the root window's structure events, where managers announce themselves.
    managerAtom_ = internAtom(connection, "MANAGER");
    selectionAtom_ = traySelection(connection);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

XEmbedTrayWatch::~XEmbedTrayWatch() {
    if (managerAtom_ != XCB_NONE) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool XEmbedTrayWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (managerAtom_ != XCB_NONE && client->type == managerAtom_ && client->format == 32 &&
            client->data.data32[1] == selectionAtom_) {
            emit managerAppeared();
        }
    }
    return false;
}

}  // namespace kelvra
