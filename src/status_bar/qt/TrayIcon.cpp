// SPDX-License-Identifier: MIT
#include "status_bar/qt/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include "windows/widgets/ThemeColors.h"

// Resources of a static library are registered by name, outside any namespace.
static void registerStatusBarResources() {
    Q_INIT_RESOURCE(status_bar);
}

namespace kelvra {
namespace {

// The status line's colour: a dot, painted for the disabled state too, which would otherwise
// be greyed like the item.
QIcon dotIcon(const QColor& color) {
    constexpr int kSize = 16;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(3, 3, kSize - 6, kSize - 6));
    painter.end();
    QIcon icon;
    icon.addPixmap(pixmap, QIcon::Normal);
    icon.addPixmap(pixmap, QIcon::Disabled);
    return icon;
}

}  // namespace

QIcon statusIcon() {
    registerStatusBarResources();
    QIcon icon(QStringLiteral(":/status_bar/StatusIcon.svg"));
    if (icon.pixmap(18, 18).isNull()) {
        icon = QIcon::fromTheme(QStringLiteral("network-wireless"));
    }
    return icon;
}

QIcon trayGlyph(const QPalette& palette) {
    registerStatusBarResources();
    QIcon icon(ThemeColors::isDark(palette) ? QStringLiteral(":/status_bar/StatusIcon-dark.svg")
                                            : QStringLiteral(":/status_bar/StatusIcon-light.svg"));
    if (icon.pixmap(18, 18).isNull()) {
        icon = QIcon::fromTheme(QStringLiteral("network-wireless"));
    }
    return icon;
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
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
    // Panels follow the desktop's palette; the application's is the nearest we can read.
    glyph_ = trayGlyph(QGuiApplication::palette());
    qApp->installEventFilter(this);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::show() {
    if (!item_) {
        item_ = std::make_unique<QSystemTrayIcon>(glyph_);
        item_->setToolTip(toolTip_);
        item_->setContextMenu(&menu_);
        connect(item_.get(), &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    }
    item_->show();
}

void TrayIcon::hide() {
    if (item_) {
        item_->hide();
    }
}

void TrayIcon::setToolTip(const QString& toolTip) {
    toolTip_ = toolTip;
    if (item_) {
        item_->setToolTip(toolTip);
    }
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        glyph_ = trayGlyph(QGuiApplication::palette());
        if (item_) {
            item_->setIcon(glyph_);
        }
    }
    return QObject::eventFilter(watched, event);
}

void TrayIcon::setStatusLine(const QString& symbol, const QColor& color, const QString& text) {
    statusAction_->setText(symbol + QLatin1Char(' ') + text);
    statusAction_->setIcon(dotIcon(color));
}

QString TrayIcon::statusLine() const {
    return statusAction_->text();
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
    menu_.popup(anchor->mapToGlobal(QPoint(0, anchor->height())));
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) {
        menu_.popup(QCursor::pos());
    }
}

}  // namespace kelvra
