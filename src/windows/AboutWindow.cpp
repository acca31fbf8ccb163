// SPDX-License-Identifier: MIT
#include "windows/AboutWindow.h"

#include <cstdlib>

#include <QLabel>
#include <QVBoxLayout>

#include "windows/FeatureHighlightsView.h"
#include "windows/widgets/Fonts.h"
#include "windows/widgets/LinkButton.h"
#include "windows/widgets/SymbolIcon.h"
#include "windows/widgets/WindowSizing.h"

namespace kelvra {
namespace {

QLabel* label(const QString& text, int pixelSize, QFont::Weight weight = QFont::Normal) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    setFontSize(label, pixelSize, weight);
    return label;
}

}  // namespace

const QUrl& AboutWindow::websiteURL() {
    static const QUrl url = [] {
        QUrl parsed(QStringLiteral("https://www.morvane.com/kelvra-hub"), QUrl::StrictMode);
        if (!parsed.isValid()) {
            std::abort();  // a build with a broken address must not ship
        }
        return parsed;
    }();
    return url;
}

AboutWindow::AboutWindow(const AppVersionInfo& versionInfo, const QIcon& statusIcon,
                         std::function<void(const QUrl&)> openURL, QWidget* parent)
    : AppWindow(parent), openURL_(std::move(openURL)) {
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(32, 24, 32, 22);
    content->setSpacing(8);

    auto* icon = SymbolIcon::headerIcon(statusIcon, 56, devicePixelRatioF());
    icon->setObjectName(QStringLiteral("aboutIcon"));
    content->addWidget(icon);
    content->addWidget(label(QStringLiteral("Kelvra Hub"), 17, QFont::Bold));

    QString version = QStringLiteral("Version: ") + QString::fromStdString(versionInfo.version);
    if (versionInfo.build) {
        version += QStringLiteral(" (") + QString::fromStdString(*versionInfo.build) + u')';
    }
    auto* versionLabel = label(version, 14);
    versionLabel->setObjectName(QStringLiteral("aboutVersionLabel"));
    content->addWidget(versionLabel);
    content->addSpacing(4);
    content->addWidget(label(
        QStringLiteral("Kelvra Hub is the control center for the Kelvra machines on your network. "
                       "From one place you can see what every machine is showing, adjust "
                       "settings, and transfer files between them."),
        14));
    content->addSpacing(8);
    content->addWidget(new FeatureHighlightsView({
        presentationSyncHighlight(),
        clickerDistributorHighlight(),
    }));
    content->addSpacing(8);
    content->addWidget(label(QStringLiteral("© 2026 Morvane. All rights reserved."), 14));

    auto* website =
        new LinkButton(QStringLiteral("Learn more about Kelvra Hub"), ThemeColors::Role::label);
    website->setObjectName(QStringLiteral("aboutWebsiteButton"));
    setFontSize(website, 15, QFont::Bold);
    connect(website, &LinkButton::clicked, this, [this] { openURL_(websiteURL()); });
    content->addWidget(website, 0, Qt::AlignHCenter);

    setFixedWidth(470);
    fitHeightToContent(this);
}

}  // namespace kelvra
