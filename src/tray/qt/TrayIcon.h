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

class StatusNotifierItem;
class XEmbedTrayWatch;

/// The status item: our icon in the system tray with the application's menu. Where a
/// StatusNotifierItem panel is, the item is ours over D-Bus (it says it is a menu, so the panel
/// opens the menu on a left click); on X11 without one, an XEmbed tray takes Qt's tray icon. A
/// left click opens the same menu as a right click. Once shown, the item follows the panels for
/// the whole run: one that starts late or restarts gets the icon.
///
/// The status line shows its symbol once: drawn in its colour as the line's icon where menus
/// show icons (our menu and DBusMenu alike), in its text where they do not.
class TrayIcon final : public QObject {
    Q_OBJECT

public:
    /// The name panels look the icon up by: installed in hicolor, and in the bundle.
    static constexpr const char* kIconName = "com.morvane.KelvraHub-tray";

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    /// The first line of the menu, always disabled: `symbol` in `color`, then `text`.
    void setStatusLine(const QString& symbol, const QColor& color, const QString& text);

    /// "Open Control Page" and "Copy URL" are usable only while the page is served.
    void setURLItemsEnabled(bool enabled);

    /// Makes Ctrl+, and Ctrl+Q (the menu's key equivalents) work in `window`.
    void installShortcuts(QWidget* window);

    /// Pops the menu up below `anchor`, the welcome window's stand-in for the tray button.
    void popUpMenuBelow(QWidget* anchor);

    QMenu& menu() { return menu_; }

    /// Puts the item in the tray there is, now or whenever one appears; `hide()` takes it out
    /// for good.
    void show();
    void hide();
    /// Whether a tray shows the item now.
    bool isDocked() const;
    void setToolTip(const QString& toolTip);
    /// The glyph the tray shows: a filled badge, legible on light and dark panels alike.
    QIcon icon() const { return glyph_; }

signals:
    void openControlPageRequested();
    void copyURLRequested();
    void settingsRequested();
    void clickerDistributorRequested();
    void checkForUpdatesRequested();
    void aboutRequested();
    void quitRequested();

private:
    /// Shows the item in the tray that is there: the panel's own item, else XEmbed.
    void follow();
    /// A left click the tray left to us, at `position` (null: where the pointer is).
    void popUpAtClick(QPoint position);

    QMenu menu_;
    QIcon glyph_;
    QString toolTip_;
    std::unique_ptr<StatusNotifierItem> statusNotifierItem_;
    std::unique_ptr<QSystemTrayIcon> xembedItem_;
    std::unique_ptr<XEmbedTrayWatch> xembedWatch_;
    bool shown_ = false;
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

/// The tray's glyph; the theme's `network-wireless` when it cannot be drawn.
QIcon trayGlyph();

}  // namespace kelvra
