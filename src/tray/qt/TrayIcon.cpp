// SPDX-License-Identifier: MIT
#include "tray/qt/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <QWindow>

#include "desktop/WaylandPlatform.h"
#include "tray/qt/linux/StatusNotifierItem.h"
#include "tray/qt/linux/TrayHost.h"

// Resources of a static library are registered by name, outside any namespace.
static void registerStatusBarResources() {
    Q_INIT_RESOURCE(tray);
}

namespace kelvra {
namespace {

// The status line's symbol in its colour, painted for the disabled state too, which would
// otherwise be greyed like the item.
QIcon symbolIcon(const QString& symbol, const QColor& color) {
    constexpr int kSize = 16;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(kSize - 2);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRect(0, 0, kSize, kSize), Qt::AlignCenter, symbol);
    painter.end();
    QIcon icon;
    icon.addPixmap(pixmap, QIcon::Normal);
    icon.addPixmap(pixmap, QIcon::Disabled);
    return icon;
}

QIcon iconOr(const QString& path, const QString& themeName) {
    registerStatusBarResources();
    QIcon icon(path);
    if (icon.pixmap(18, 18).isNull()) {
        icon = QIcon::fromTheme(themeName);
    }
    return icon;
}

// The bundle's icon theme directory, so panels find the icon by name before installation.
QString bundledIconThemePath() {
    const QDir icons(QCoreApplication::applicationDirPath() +
                     QStringLiteral("/../Resources/icons"));
    return icons.exists() ? icons.canonicalPath() : QString();
}

}  // namespace

QIcon statusIcon() {
    return iconOr(QStringLiteral(":/tray/StatusIcon.svg"), QStringLiteral("network-wireless"));
}

QIcon trayGlyph() {
    return iconOr(QStringLiteral(":/tray/TrayIcon.svg"), QStringLiteral("network-wireless"));
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), glyph_(trayGlyph()) {
    statusAction_ = menu_.addAction(QString());
    statusAction_->setEnabled(false);
    menu_.addSeparator();
    openAction_ = menu_.addAction(QStringLiteral("Open Control Page"));
    copyURLAction_ = menu_.addAction(QStringLiteral("Copy URL"));
    menu_.addSeparator();
    settingsAction_ = menu_.addAction(QStringLiteral("Settings…"));
    settingsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    clickerDistributorAction_ = menu_.addAction(QStringLiteral("Clicker Distributor…"));
    checkForUpdatesAction_ = menu_.addAction(QStringLiteral("Check for Updates…"));
    aboutAction_ = menu_.addAction(QStringLiteral("About Kelvra Hub"));
    quitAction_ = menu_.addAction(QStringLiteral("Quit Kelvra Hub"));
    quitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    setURLItemsEnabled(false);

    connect(openAction_, &QAction::triggered, this, &TrayIcon::openControlPageRequested);
    connect(copyURLAction_, &QAction::triggered, this, &TrayIcon::copyURLRequested);
    connect(settingsAction_, &QAction::triggered, this, &TrayIcon::settingsRequested);
    connect(clickerDistributorAction_, &QAction::triggered, this,
            &TrayIcon::clickerDistributorRequested);
    connect(checkForUpdatesAction_, &QAction::triggered, this, &TrayIcon::checkForUpdatesRequested);
    connect(aboutAction_, &QAction::triggered, this, &TrayIcon::aboutRequested);
    connect(quitAction_, &QAction::triggered, this, &TrayIcon::quitRequested);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::show() {
    if (shown_) {
        return;
    }
    shown_ = true;
    if (!statusNotifierItem_) {
        statusNotifierItem_ = std::make_unique<StatusNotifierItem>(
            menu_, StatusNotifierItem::Icon{.icon = glyph_,
                                            .name = QString::fromLatin1(kIconName),
                                            .themePath = bundledIconThemePath()});
        statusNotifierItem_->setToolTip(toolTip_);
        connect(statusNotifierItem_.get(), &StatusNotifierItem::dockedChanged, this,
                &TrayIcon::follow);
        connect(statusNotifierItem_.get(), &StatusNotifierItem::activationRequested, this,
                &TrayIcon::popUpAtClick);
        xembedWatch_ = std::make_unique<XEmbedTrayWatch>();
        // After the X event that told it: docking talks to the X server again.
        connect(
            xembedWatch_.get(), &XEmbedTrayWatch::managerAppeared, this,
            [this] {
                if (xembedItem_ != nullptr) {
                    xembedItem_->hide();  // shown again into the new tray
                }
                follow();
            },
            Qt::QueuedConnection);
    }
    statusNotifierItem_->show();
    follow();
}

void TrayIcon::hide() {
    shown_ = false;
    if (statusNotifierItem_) {
        statusNotifierItem_->hide();
    }
    if (xembedItem_) {
        xembedItem_->hide();
    }
}

bool TrayIcon::isDocked() const {
    return shown_ && ((statusNotifierItem_ && statusNotifierItem_->isDocked()) ||
                      (xembedItem_ && xembedItem_->isVisible() && xembedTrayPresent()));
}

void TrayIcon::follow() {
    if (!shown_) {
        return;
    }
    if (statusNotifierItem_->isDocked()) {
        if (xembedItem_) {
            xembedItem_->hide();
        }
    } else if (xembedTrayPresent() && !statusNotifierHostPresent()) {
        // Made only here: Qt settles for good on its first tray icon whether it is a
        // StatusNotifierItem, and a panel there takes ours instead.
        if (!xembedItem_) {
            xembedItem_ = std::make_unique<QSystemTrayIcon>(glyph_);
            xembedItem_->setToolTip(toolTip_);
            xembedItem_->setContextMenu(&menu_);
            connect(xembedItem_.get(), &QSystemTrayIcon::activated, this,
                    [this](QSystemTrayIcon::ActivationReason reason) {
                        if (reason == QSystemTrayIcon::Trigger) {
                            popUpAtClick({});
                        }
                    });
        }
        xembedItem_->show();
    }
}

void TrayIcon::setToolTip(const QString& toolTip) {
    toolTip_ = toolTip;
    if (statusNotifierItem_) {
        statusNotifierItem_->setToolTip(toolTip);
    }
    if (xembedItem_) {
        xembedItem_->setToolTip(toolTip);
    }
}

void TrayIcon::setStatusLine(const QString& symbol, const QColor& color, const QString& text) {
    if (QCoreApplication::testAttribute(Qt::AA_DontShowIconsInMenus)) {
        statusAction_->setIcon(QIcon());
        statusAction_->setText(symbol + QLatin1Char(' ') + text);
    } else {
        statusAction_->setIcon(symbolIcon(symbol, color));
        statusAction_->setText(text);
    }
}

void TrayIcon::setURLItemsEnabled(bool enabled) {
    openAction_->setEnabled(enabled);
    copyURLAction_->setEnabled(enabled);
}

void TrayIcon::installShortcuts(QWidget* window) {
    // A window's own actions: the shortcuts work while it is active, whichever control has focus.
    settingsAction_->setShortcutContext(Qt::WindowShortcut);
    quitAction_->setShortcutContext(Qt::WindowShortcut);
    window->addAction(settingsAction_);
    window->addAction(quitAction_);
}

void TrayIcon::popUpMenuBelow(QWidget* anchor) {
    // Wayland places a popup only relative to its parent window, and turns a parentless one
    // into a free-standing window. The menu also serves the tray, so it is lent, not reparented.
    menu_.winId();
    menu_.windowHandle()->setTransientParent(anchor->window()->windowHandle());
    menu_.popup(anchor->mapToGlobal(QPoint(0, anchor->height())));
}

void TrayIcon::popUpAtClick(QPoint position) {
    // Wayland gives no pointer position and makes a parentless menu a window of its own; the
    // panel shows our menu itself there, since the item says it is one.
    if (isWaylandPlatform()) {
        return;
    }
    menu_.popup(position.isNull() ? QCursor::pos() : position);
}

}  // namespace kelvra
