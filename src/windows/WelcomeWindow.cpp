// SPDX-License-Identifier: MIT
#include "windows/WelcomeWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/Alert.h"
#include "windows/FeatureHighlightsView.h"
#include "windows/widgets/Fonts.h"
#include "windows/widgets/LinkButton.h"
#include "windows/widgets/Separator.h"
#include "windows/widgets/StatusDot.h"
#include "windows/widgets/SymbolIcon.h"
#include "windows/widgets/ThemeColors.h"
#include "windows/widgets/WindowSizing.h"

namespace kelvra {
namespace {

using Role = ThemeColors::Role;

const QString kWaitingText = QStringLiteral("This usually takes a few seconds.");

// The rounded panel behind the tray hint, in its own colours for light and dark.
class WelcomeHintView final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(ThemeColors::color(Role::separator, palette()), 1));
        painter.setBrush(ThemeColors::color(Role::welcomeHintBackground, palette()));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);
    }
};

QLabel* centredLabel(const QString& text, int pixelSize, Role role) {
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    setFontSize(label, pixelSize);
    ThemeColors::setTextRole(label, role);
    return label;
}

}  // namespace

WelcomeWindow::WelcomeWindow(const AppVersionInfo& versionInfo, const QIcon& statusIcon,
                             Callbacks callbacks, QWidget* parent)
    : AppWindow(parent), callbacks_(std::move(callbacks)) {
    setObjectName(QStringLiteral("welcomeWindow"));
    setWindowTitle(QStringLiteral("Kelvra Hub"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    auto* content = new QVBoxLayout;
    content->setContentsMargins(28, 24, 28, 18);
    content->setSpacing(10);
    window->addLayout(content);

    auto* icon = SymbolIcon::headerIcon(statusIcon, 64, devicePixelRatioF());
    icon->setObjectName(QStringLiteral("welcomeIcon"));
    content->addWidget(icon);

    auto* title = new QLabel(QStringLiteral("<b>Welcome to </b>Kelvra Hub"));
    title->setAccessibleName(QStringLiteral("Welcome to Kelvra Hub"));
    title->setAlignment(Qt::AlignCenter);
    setFontSize(title, 24);
    content->addWidget(title);

    QString version = QStringLiteral("Version ") + QString::fromStdString(versionInfo.version);
    if (versionInfo.build) {
        version += QStringLiteral(" (") + QString::fromStdString(*versionInfo.build) + u')';
    }
    auto* versionLabel = centredLabel(version, 13, Role::secondaryLabel);
    versionLabel->setObjectName(QStringLiteral("welcomeVersionLabel"));
    content->addWidget(versionLabel);
    content->addSpacing(8);

    content->addWidget(new FeatureHighlightsView({
        presentationSyncHighlight(),
        clickerDistributorHighlight(FeatureHighlight::Action{
            QStringLiteral("Open…"), QStringLiteral("welcomeClickerDistributorButton"),
            callbacks_.onOpenClickerDistributor}),
        {Symbol::desktop, QStringLiteral("Monitor and manage"),
         QStringLiteral("See what every Kelvra machine is showing, adjust settings, and transfer "
                        "files between them."),
         std::nullopt},
    }));
    content->addSpacing(8);
    content->addWidget(centredLabel(
        QStringLiteral("Set up groups and control machines on the control page in your browser."),
        13, Role::secondaryLabel));

    openButton_ = new QPushButton(QStringLiteral("Open control page"));
    openButton_->setObjectName(QStringLiteral("welcomeOpenButton"));
    openButton_->setAccessibleDescription(QStringLiteral("Opens in a browser"));
    // Right to left puts the symbol after the title.
    openButton_->setLayoutDirection(Qt::RightToLeft);
    openButton_->setMinimumHeight(34);
    openButton_->setMinimumWidth(200);
    setFontSize(openButton_, 15, QFont::Bold);
    connect(openButton_, &QPushButton::clicked, this, [this] { callbacks_.onOpenControlPage(); });
    content->addWidget(openButton_, 0, Qt::AlignHCenter);
    setDefaultButton(openButton_);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    statusRow->addStretch();
    statusIndicator_ = new StatusDot(9);
    statusIndicator_->setRole(Role::green);
    // Shown only while the server runs.
    statusIndicator_->setAccessibleName(QStringLiteral("Running"));
    statusRow->addWidget(statusIndicator_);
    serverStatusLabel_ = new QLabel;
    serverStatusLabel_->setObjectName(QStringLiteral("welcomeServerStatusLabel"));
    setFontSize(serverStatusLabel_, 13);
    statusRow->addWidget(serverStatusLabel_);
    statusRow->addStretch();
    content->addLayout(statusRow);

    changeButton_ = new LinkButton(QStringLiteral("Change…"), Role::accent);
    changeButton_->setObjectName(QStringLiteral("welcomeChangeButton"));
    setFontSize(changeButton_, 13);
    changeButton_->setToolTip(QStringLiteral("Open Kelvra Hub server settings"));
    changeButton_->setAccessibleDescription(QStringLiteral("Opens Kelvra Hub server settings."));
    connect(changeButton_, &QPushButton::clicked, this, [this] { callbacks_.onOpenSettings(); });
    content->addWidget(changeButton_, 0, Qt::AlignHCenter);
    content->addSpacing(6);
    content->addWidget(makeHintView());

    tintOpenButtonSymbol();
    window->addWidget(makeFooterView());
    setFixedWidth(470);
    showServerStatus(ServerStatus::starting());
}

QWidget* WelcomeWindow::makeHintView() {
    auto* hint = new WelcomeHintView;
    hint->setObjectName(QStringLiteral("welcomeHint"));
    auto* row = new QHBoxLayout(hint);
    row->setContentsMargins(14, 10, 10, 10);
    row->setSpacing(10);
    auto* text = new QLabel(
        QStringLiteral("<b>Find Kelvra Hub in the system tray</b> in your desktop's panel — not "
                       "in the taskbar.<br>If you cannot see the icon, your desktop may need a "
                       "system-tray extension."));
    text->setWordWrap(true);
    setFontSize(text, 13);
    ThemeColors::setTextRole(text, Role::welcomeHintText);
    row->addWidget(text, 1);
    showMenuButton_ = new LinkButton(QStringLiteral("Show menu"), Role::link);
    showMenuButton_->setObjectName(QStringLiteral("welcomeShowMenuButton"));
    setFontSize(showMenuButton_, 13);
    connect(showMenuButton_, &QPushButton::clicked, this,
            [this] { callbacks_.onShowMenu(showMenuButton_); });
    row->addWidget(showMenuButton_, 0, Qt::AlignVCenter);
    return hint;
}

QWidget* WelcomeWindow::makeFooterView() {
    auto* footer = new QWidget;
    footer->setObjectName(QStringLiteral("welcomeFooter"));
    footer->setAutoFillBackground(true);
    footer->setBackgroundRole(QPalette::Window);
    auto* column = new QVBoxLayout(footer);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new Separator);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(20, 10, 20, 12);
    dontShowAgainCheckbox_ = new QCheckBox(QStringLiteral("Don’t show this again"));
    dontShowAgainCheckbox_->setObjectName(QStringLiteral("dontShowAgainCheckbox"));
    setFontSize(dontShowAgainCheckbox_, 13);
    connect(dontShowAgainCheckbox_, &QCheckBox::clicked, this,
            &WelcomeWindow::dontShowAgainChanged);
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("welcomeCloseButton"));
    close->setMinimumWidth(76);
    setFontSize(close, 13);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    row->addWidget(dontShowAgainCheckbox_);
    row->addStretch();
    row->addWidget(close);
    column->addLayout(row);
    return footer;
}

void WelcomeWindow::showServerStatus(const ServerStatus& status) {
    const std::optional<std::string>& url = status.url();
    openButton_->setEnabled(url.has_value());
    statusIndicator_->setVisible(url.has_value());
    changeButton_->setVisible(url.has_value());
    serverStatusLabel_->setText(url ? QString::fromStdString(controlPageHostAndPort(*url))
                                    : kWaitingText);
    if (url) {
        openButton_->setFocus();
    }
    fitHeightToContent(this);
}

void WelcomeWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        tintOpenButtonSymbol();
    }
}

void WelcomeWindow::tintOpenButtonSymbol() {
    openButton_->setIcon(SymbolIcon::tinted(Symbol::openExternal, openButton_->iconSize(),
                                            palette().color(QPalette::ButtonText),
                                            devicePixelRatioF()));
}

void WelcomeWindow::showDontShowAgain(bool checked) {
    dontShowAgainCheckbox_->setChecked(checked);
}

void WelcomeWindow::dontShowAgainChanged(bool checked) {
    if (const auto stored = callbacks_.setShowAtStartup(!checked); !stored) {
        showDontShowAgain(!checked);
        Alert{.style = AlertStyle::warning,
              .message = QStringLiteral("Kelvra Hub could not save this setting."),
              .informativeText = QString::fromStdString(stored.error().description())}
            .openOver(*this);
    }
}

}  // namespace kelvra
