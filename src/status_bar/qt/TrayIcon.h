// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include <QColor>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

class QAction;
class QWidget;

namespace kelvra {

/// The status item: our icon in the system tray with the application's menu. A left click
/// opens the same menu as a right click, since many trays give the item no other use. Trays
/// that show menus as plain text (DBusMenu) lose colours, so the status line keeps its symbol
/// in its text and carries its colour as its icon.
///
/// The menu exists from the start (windows use its shortcuts), the tray item only from the
/// first `show()`: Qt decides once per process, when the first tray item is made, whether a
/// StatusNotifierItem host is there, so the item is made only once the caller has seen a tray.
class TrayIcon final : public QObject {
    Q_OBJECT

public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    /// The first line of the menu, always disabled: "<symbol> <text>", the icon a dot of `color`.
    void setStatusLine(const QString& symbol, const QColor& color, const QString& text);
    QString statusLine() const;

    /// "Open Control Page" and "Copy URL" are usable only while the page is served.
    void setURLItemsEnabled(bool enabled);

    /// Makes Ctrl+, and Ctrl+Q (the menu's key equivalents) work in `window`.
    void installShortcuts(QWidget* window);

    /// Pops the menu up below `anchor`, the welcome window's stand-in for the tray button.
    void popUpMenuBelow(QWidget* anchor);

    QMenu& menu() { return menu_; }

    /// Puts the item in the tray, making it on first use; `hide()` takes it out again.
    void show();
    void hide();
    void setToolTip(const QString& toolTip);
    /// The glyph the tray shows.
    QIcon icon() const { return glyph_; }

signals:
    void openControlPageRequested();
    void copyURLRequested();
    void settingsRequested();
    void clickerDistributorRequested();
    void checkForUpdatesRequested();
    void aboutRequested();
    void quitRequested();

protected:
    /// Follows the desktop's palette, so the glyph stays visible on light and dark panels.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    QMenu menu_;
    QIcon glyph_;
    QString toolTip_;
    std::unique_ptr<QSystemTrayIcon> item_;
    QAction* statusAction_;
    QAction* openAction_;
    QAction* copyURLAction_;
    QAction* settingsAction_;
    QAction* clickerDistributorAction_;
    QAction* checkForUpdatesAction_;
    QAction* aboutAction_;
    QAction* quitAction_;
};

/// Our bundled status icon, or the theme's `network-wireless` when it cannot be drawn.
QIcon statusIcon();

/// The tray's one-colour glyph for a panel drawn in `palette`: light on dark panels, dark on
/// light ones; the theme's `network-wireless` when it cannot be drawn.
QIcon trayGlyph(const QPalette& palette);

}  // namespace kelvra
