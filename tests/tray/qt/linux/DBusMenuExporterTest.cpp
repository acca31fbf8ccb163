// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "tray/qt/linux/DBusMenuExporter.h"

namespace kelvra {
namespace {

QVariantMap entry(DBusMenuExporter& exporter, int index) {
    DBusMenuLayoutItem root;
    exporter.GetLayout(0, -1, {}, root);
    return root.children.value(index).properties;
}

TEST(DBusMenuExporterTest, EntriesFollowTheMenusActions) {
    QMenu menu;
    QAction* open = menu.addAction(QStringLiteral("&Open my_page"));
    open->setIcon(QIcon(QPixmap(16, 16)));
    menu.addSeparator();
    QAction* toggle = menu.addAction(QStringLiteral("Toggle"));
    toggle->setCheckable(true);
    toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    DBusMenuExporter exporter(menu);
    QSignalSpy updated(&exporter, &DBusMenuExporter::ItemsPropertiesUpdated);
    QSignalSpy relaid(&exporter, &DBusMenuExporter::LayoutUpdated);

    open->setEnabled(false);
    toggle->setChecked(true);
    menu.addAction(QStringLiteral("Added"));

    const struct {
        int index;
        const char* property;
        QVariant expected;
    } rows[] = {
        {0, "label", QStringLiteral("_Open my__page")},  // mnemonics in DBusMenu's marks
        {0, "enabled", false},
        {1, "type", QStringLiteral("separator")},
        {2, "toggle-type", QStringLiteral("checkmark")},
        {2, "toggle-state", 1},
        {2, "shortcut", QVariant::fromValue(QList<QStringList>{{"Control", ","}})},
        {3, "label", QStringLiteral("Added")},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(entry(exporter, row.index).value(QString::fromLatin1(row.property)), row.expected)
            << row.index << " " << row.property;
    }
    EXPECT_FALSE(entry(exporter, 0).value(QStringLiteral("icon-data")).toByteArray().isEmpty());
    EXPECT_FALSE(entry(exporter, 2).contains(QStringLiteral("icon-data")));
    EXPECT_EQ(updated.count(), 2);
    EXPECT_EQ(relaid.count(), 1);
}

TEST(DBusMenuExporterTest, AClickTriggersOnlyAnEnabledAction) {
    for (const bool enabled : {true, false}) {
        QMenu menu;
        QAction* action = menu.addAction(QStringLiteral("Open"));
        action->setEnabled(enabled);
        DBusMenuExporter exporter(menu);
        QSignalSpy triggered(action, &QAction::triggered);
        DBusMenuLayoutItem root;
        exporter.GetLayout(0, -1, {}, root);
        exporter.Event(root.children.at(0).id, QStringLiteral("clicked"), {}, 0);
        QCoreApplication::processEvents();
        EXPECT_EQ(triggered.count(), enabled ? 1 : 0) << enabled;
    }
}

}  // namespace
}  // namespace kelvra
