// SPDX-License-Identifier: MIT
#include "windows/widgets/SymbolIcon.h"

#include <QLabel>
#include <QPainter>

namespace kelvra::SymbolIcon {
namespace {

QString bundledPath(Symbol symbol) {
    switch (symbol) {
        case Symbol::info:
            return QStringLiteral(":/symbols/info.svg");
        case Symbol::trash:
            return QStringLiteral(":/symbols/trash.svg");
        case Symbol::presentationSync:
            return QStringLiteral(":/symbols/presentation-sync.svg");
        case Symbol::clicker:
            return QStringLiteral(":/symbols/clicker.svg");
        case Symbol::desktop:
            return QStringLiteral(":/symbols/desktop.svg");
        case Symbol::openExternal:
            return QStringLiteral(":/symbols/open-external.svg");
    }
    return {};
}

}  // namespace

const char* themeName(Symbol symbol) {
    switch (symbol) {
        case Symbol::info:
            return "dialog-information";
        case Symbol::trash:
            return "edit-delete";
        case Symbol::presentationSync:
            return "view-presentation";
        case Symbol::clicker:
            return "input-tablet";
        case Symbol::desktop:
            return "computer";
        case Symbol::openExternal:
            return "document-open";
    }
    return "";
}

QIcon icon(Symbol symbol) {
    return QIcon::fromTheme(QString::fromLatin1(themeName(symbol)), QIcon(bundledPath(symbol)));
}

QPixmap tinted(Symbol symbol, QSize size, const QColor& color, qreal devicePixelRatio) {
    // Our own glyph: a theme asked for "<name>-symbolic" answers with its full-colour icon when
    // it lacks the symbolic one, and tinting that would leave a blot.
    QPixmap pixmap = QIcon(bundledPath(symbol)).pixmap(size, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

QLabel* headerIcon(const QIcon& icon, int side, qreal devicePixelRatio) {
    const QIcon shown = icon.isNull()
                            ? QIcon::fromTheme(QStringLiteral("com.morvane.KelvraHub"),
                                               QIcon(QStringLiteral(":/symbols/app-icon.svg")))
                            : icon;
    auto* label = new QLabel;
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(shown.pixmap(QSize(side, side), devicePixelRatio));
    return label;
}

}  // namespace kelvra::SymbolIcon
