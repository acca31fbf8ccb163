// SPDX-License-Identifier: MIT
#include "tray/qt/linux/DBusMenuExporter.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QBuffer>
#include <QGuiApplication>
#include <QMenu>

namespace kelvra {
namespace {

// Qt marks a mnemonic with "&", DBusMenu with "_"; a literal one is doubled in each.
QString dbusMenuLabel(const QString& text) {
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('_')) {
            label += QStringLiteral("__");
        } else if (c == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                label += QLatin1Char('&');
                ++i;
            } else {
                label += QLatin1Char('_');
            }
        } else {
            label += c;
        }
    }
    return label;
}

// A shortcut as DBusMenu spells it: per key press, its modifiers and then its key.
QList<QStringList> dbusMenuShortcut(const QKeySequence& sequence) {
    QList<QStringList> presses;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination combination = sequence[i];
        QStringList press;
        const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
        for (const auto& [modifier, name] :
             {std::pair{Qt::ControlModifier, "Control"}, std::pair{Qt::AltModifier, "Alt"},
              std::pair{Qt::ShiftModifier, "Shift"}, std::pair{Qt::MetaModifier, "Super"}}) {
            if (modifiers.testFlag(modifier)) {
                press.append(QString::fromLatin1(name));
            }
        }
        press.append(QKeySequence(combination.key()).toString(QKeySequence::PortableText));
        presses.append(press);
    }
    return presses;
}

QByteArray pngOf(const QIcon& icon, bool enabled) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    icon.pixmap(16, 16, enabled ? QIcon::Normal : QIcon::Disabled).save(&buffer, "PNG");
    return png;
}

}  // namespace

DBusMenuExporter::DBusMenuExporter(QMenu& menu, QObject* parent) : QObject(parent), menu_(menu) {
    registerDBusTrayTypes();
    menu_.installEventFilter(this);
}

bool DBusMenuExporter::exportOn(QDBusConnection connection, const QString& path) {
    return connection.registerObject(path, this,
                                     QDBusConnection::ExportAllSlots |
                                         QDBusConnection::ExportAllSignals |
                                         QDBusConnection::ExportAllProperties);
}

QString DBusMenuExporter::textDirection() const {
    return QGuiApplication::isRightToLeft() ? QStringLiteral("rtl") : QStringLiteral("ltr");
}

QVariantMap DBusMenuExporter::properties(QAction* action, const QStringList& names) const {
    QVariantMap all;
    if (action == nullptr) {
        all.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (action->isSeparator()) {
        all.insert(QStringLiteral("type"), QStringLiteral("separator"));
        all.insert(QStringLiteral("visible"), action->isVisible());
    } else {
        all.insert(QStringLiteral("label"), dbusMenuLabel(action->text()));
        all.insert(QStringLiteral("enabled"), action->isEnabled());
        all.insert(QStringLiteral("visible"), action->isVisible());
        if (!action->icon().isNull() && action->isIconVisibleInMenu()) {
            all.insert(QStringLiteral("icon-data"), pngOf(action->icon(), action->isEnabled()));
        }
        if (!action->shortcut().isEmpty()) {
            all.insert(QStringLiteral("shortcut"),
                       QVariant::fromValue(dbusMenuShortcut(action->shortcut())));
        }
        if (action->isCheckable()) {
            const bool exclusive =
                action->actionGroup() != nullptr && action->actionGroup()->isExclusive();
            all.insert(QStringLiteral("toggle-type"),
                       exclusive ? QStringLiteral("radio") : QStringLiteral("checkmark"));
            all.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
    }
    if (names.isEmpty()) {
        return all;
    }
    QVariantMap chosen;
    for (const QString& name : names) {
        if (all.contains(name)) {
            chosen.insert(name, all.value(name));
        }
    }
    return chosen;
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout) {
    // The menu is flat: only the root has children.
    QAction* parent = actionOf(parentId);
    layout = DBusMenuLayoutItem{
        .id = parentId, .properties = properties(parent, propertyNames), .children = {}};
    if (parentId == 0 && recursionDepth != 0) {
        for (QAction* action : menu_.actions()) {
            layout.children.append(
                DBusMenuLayoutItem{.id = idOf(action),
                                   .properties = properties(action, propertyNames),
                                   .children = {}});
        }
    }
    return revision_;
}

DBusMenuItemList DBusMenuExporter::GetGroupProperties(const QList<int>& ids,
                                                      const QStringList& propertyNames) {
    DBusMenuItemList items;
    for (const int id : ids) {
        if (id == 0 || actionOf(id) != nullptr) {
            items.append({.id = id, .properties = properties(actionOf(id), propertyNames)});
        }
    }
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    return QDBusVariant(properties(actionOf(id), {name}).value(name));
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    handleEvent(id, eventId);
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events) {
    QList<int> idErrors;
    for (const DBusMenuEvent& event : events) {
        if (!handleEvent(event.id, event.eventId)) {
            idErrors.append(event.id);
        }
    }
    return idErrors;
}

bool DBusMenuExporter::AboutToShow(int) {
    return false;  // the layout is always current
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    for (const int id : ids) {
        if (id != 0 && actionOf(id) == nullptr) {
            idErrors.append(id);
        }
    }
    return {};
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &menu_) {
        switch (event->type()) {
            case QEvent::ActionChanged: {
                QAction* action = static_cast<QActionEvent*>(event)->action();
                emit ItemsPropertiesUpdated(
                    {{.id = idOf(action), .properties = properties(action)}}, {});
                break;
            }
            case QEvent::ActionRemoved:
                actions_.remove(ids_.take(static_cast<QActionEvent*>(event)->action()));
                [[fallthrough]];
            case QEvent::ActionAdded:
                emit LayoutUpdated(++revision_, 0);
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

int DBusMenuExporter::idOf(QAction* action) {
    const auto found = ids_.constFind(action);
    if (found != ids_.cend()) {
        return *found;
    }
    const int id = nextId_++;
    ids_.insert(action, id);
    actions_.insert(id, action);
    return id;
}

QAction* DBusMenuExporter::actionOf(int id) const {
    return actions_.value(id);
}

bool DBusMenuExporter::handleEvent(int id, const QString& eventId) {
    QAction* action = actionOf(id);
    if (action == nullptr) {
        return id == 0;
    }
    if (eventId == QLatin1String("clicked") && action->isEnabled()) {
        // After the reply: what the action opens may run a loop of its own.
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }
    return true;
}

}  // namespace kelvra
