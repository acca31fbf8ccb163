// SPDX-License-Identifier: MIT
#include "windows/ServerAddressView.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QToolButton>
#include <QVBoxLayout>

#include "desktop/Alert.h"
#include "server_config/HubServerPortAvailabilityChecker.h"
#include "windows/UnsavedChangeText.h"
#include "windows/widgets/ElidedLabel.h"
#include "windows/widgets/Fonts.h"
#include "windows/widgets/LabelledComboBox.h"
#include "windows/widgets/StatusDot.h"

namespace kelvra {
namespace {

using Role = ThemeColors::Role;

const QString kNetworkTitle = QStringLiteral("Network interface");
const QString kPortTitle = QStringLiteral("Port");

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString networkTitle(const HubNetworkService& service) {
    QStringList addresses;
    for (const std::string& address : service.ipv4Addresses) {
        addresses << qs(address);
    }
    return qs(service.name) + QStringLiteral(" — ") + addresses.join(QStringLiteral(", "));
}

bool sameSelection(const HubNetworkSelection& a, const HubNetworkSelection& b) {
    if (a.kind() != b.kind()) {
        return false;
    }
    return a.kind() != HubNetworkSelection::Kind::service || a.id() == b.id();
}

}  // namespace

ServerAddressView::ServerAddressView(
    std::shared_ptr<const HubNetworkServiceProvider> serviceProvider,
    std::shared_ptr<MainThreadExecutor> mainThread, Callbacks callbacks,
    const HelpButtonFactory& makeHelpButton, QWidget* parent)
    : QWidget(parent),
      serviceProvider_(std::move(serviceProvider)),
      mainThread_(std::move(mainThread)),
      callbacks_(std::move(callbacks)) {
    buildContent(makeHelpButton);
    showServerStatus(ServerStatus::starting());
    reloadNetworkPopup();
}

ServerAddressView::~ServerAddressView() {
    portFeedbackClearWorkItem_.cancel();
}

void ServerAddressView::buildContent(const HelpButtonFactory& makeHelpButton) {
    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(10);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    statusIndicator_ = new StatusDot(10);
    serverStatusLabel_ = new ElidedLabel(Qt::ElideMiddle);
    serverStatusLabel_->setObjectName(QStringLiteral("serverStatusLabel"));
    setFontSize(serverStatusLabel_, 14);
    ThemeColors::setTextRole(serverStatusLabel_, Role::secondaryLabel);
    auto* copyButton = new QPushButton(QStringLiteral("Copy URL"));
    copyButton->setObjectName(QStringLiteral("copyURLButton"));
    setFontSize(copyButton, 12);
    connect(copyButton, &QPushButton::clicked, this, [this] { callbacks_.copyURL(); });
    statusRow->addWidget(statusIndicator_);
    statusRow->addWidget(serverStatusLabel_, 1);
    statusRow->addWidget(copyButton);
    content->addLayout(statusRow);
    content->addSpacing(4);

    // The two server rows share a title column, so their controls line up.
    auto* form = new QGridLayout;
    form->setHorizontalSpacing(12);
    form->setVerticalSpacing(10);
    form->setColumnStretch(1, 1);
    const auto addRowTitle = [&makeHelpButton, form](int row, const QString& title,
                                                     const QString& help) {
        auto* titleRow = new QHBoxLayout;
        titleRow->setSpacing(4);
        titleRow->addWidget(makeLabel(title, 14));
        titleRow->addWidget(makeHelpButton(title, help));
        titleRow->addStretch();
        form->addLayout(titleRow, row, 0);
    };

    addRowTitle(0, kNetworkTitle,
                QStringLiteral("Which network Kelvra Hub uses for the control page, Kelvra "
                               "discovery, connections, and file transfers. “All networks” works "
                               "for most setups. Choose a specific network if this computer is "
                               "connected to several, or “Localhost only” to use Kelvra on this "
                               "computer only."));
    networkPopup_ = new LabelledComboBox;
    networkPopup_->setObjectName(QStringLiteral("networkPopup"));
    networkPopup_->setAccessibleName(kNetworkTitle);
    networkPopup_->setFixedWidth(210);
    networkPopup_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    networkPopup_->installEventFilter(this);
    // A choice from the popup; one browsed with the keys waits until the list loses the focus.
    connect(networkPopup_, &QComboBox::activated, this, [this](int index) {
        if (!browsingNetworks_) {
            networkSelectionChanged(index);
        }
    });
    form->addWidget(networkPopup_, 0, 1, Qt::AlignLeft);

    addRowTitle(1, kPortTitle,
                QStringLiteral("The port the control page is served on. Changing it breaks "
                               "existing bookmarks — anyone viewing the control page must reload "
                               "it at the new address."));
    auto* portRow = new QHBoxLayout;
    portRow->setSpacing(6);
    portField_ = new QLineEdit(QString::number(HubServerPort().number()));
    portField_->setObjectName(QStringLiteral("portField"));
    portField_->setAccessibleName(kPortTitle);
    portField_->setAlignment(Qt::AlignRight);
    portField_->setFixedWidth(80);
    portField_->installEventFilter(this);
    connect(portField_, &QLineEdit::textEdited, this, &ServerAddressView::portTextEdited);
    connect(portField_, &QLineEdit::returnPressed, this, &ServerAddressView::applyPortChange);
    portApplyButton_ = new QPushButton(QStringLiteral("Apply"));
    portApplyButton_->setObjectName(QStringLiteral("portApplyButton"));
    portApplyButton_->setAutoDefault(false);
    portApplyButton_->hide();
    connect(portApplyButton_, &QPushButton::clicked, this, &ServerAddressView::applyPortChange);
    portCancelButton_ = new QToolButton;
    portCancelButton_->setObjectName(QStringLiteral("portCancelButton"));
    portCancelButton_->setText(QStringLiteral("✕"));
    portCancelButton_->setAutoRaise(true);
    portCancelButton_->setToolTip(QStringLiteral("Cancel port change"));
    portCancelButton_->setAccessibleName(QStringLiteral("Cancel port change"));
    portCancelButton_->hide();
    connect(portCancelButton_, &QToolButton::clicked, this, &ServerAddressView::cancelPortChange);
    portRow->addWidget(portField_);
    portRow->addWidget(portApplyButton_);
    portRow->addWidget(portCancelButton_);
    portRow->addStretch();
    form->addLayout(portRow, 1, 1);

    portFeedbackLabel_ = new QLabel;
    portFeedbackLabel_->setObjectName(QStringLiteral("portFeedbackLabel"));
    portFeedbackLabel_->setWordWrap(true);
    portFeedbackLabel_->setTextFormat(Qt::PlainText);
    portFeedbackLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFontSize(portFeedbackLabel_, 12);
    portFeedbackLabel_->hide();
    form->addWidget(portFeedbackLabel_, 2, 1);
    content->addLayout(form);
}

// Showing and reloading.

void ServerAddressView::showConfiguration(const HubServerConfiguration& configuration) {
    configuration_ = configuration;
    reloadNetworkPopup();
    if (!isApplyingConfiguration_) {
        cancelPortChange();
    }
}

void ServerAddressView::showServerStatus(const ServerStatus& status) {
    serverStatusLabel_->setFullText(qs(status.settingsText()));
    switch (status.phase()) {
        case ServerStatus::Phase::applying:
            statusIndicator_->setRole(Role::orange);
            statusIndicator_->setAccessibleName(QStringLiteral("Applying"));
            break;
        case ServerStatus::Phase::running:
            statusIndicator_->setRole(Role::green);
            statusIndicator_->setAccessibleName(QStringLiteral("Running"));
            break;
        default:
            statusIndicator_->setRole(Role::secondaryLabel);
            statusIndicator_->setAccessibleName(QStringLiteral("Starting"));
    }
}

void ServerAddressView::reloadNetworkPopup() {
    const HubNetworkSelection& stored = configuration_.networkSelection;
    std::vector<HubNetworkSelection> selections{HubNetworkSelection::allNetworks(),
                                                HubNetworkSelection::localhost()};
    QStringList titles{QStringLiteral("All networks"),
                       QStringLiteral("Localhost only (this computer)")};
    bool storedServiceListed = false;
    for (const HubNetworkService& service : serviceProvider_->availableServices()) {
        selections.push_back(HubNetworkSelection::service(service.id, service.name));
        titles << networkTitle(service);
        storedServiceListed = storedServiceListed || service.id == stored.id();
    }
    if (stored.kind() == HubNetworkSelection::Kind::service && !storedServiceListed) {
        selections.push_back(stored);
        titles << qs(stored.lastKnownName()) + QStringLiteral(" (unavailable)");
    }

    networkSelections_ = std::move(selections);
    const QSignalBlocker blocker(networkPopup_);
    networkPopup_->clear();
    networkPopup_->addItems(titles);
    int selected = 0;
    for (size_t index = 0; index < networkSelections_.size(); ++index) {
        if (sameSelection(networkSelections_[index], stored)) {
            selected = static_cast<int>(index);
            break;
        }
    }
    networkPopup_->setCurrentIndex(selected);
}

// Network and port.

void ServerAddressView::networkSelectionChanged(int index) {
    if (index < 0 || static_cast<size_t>(index) >= networkSelections_.size()) {
        return;
    }
    HubServerConfiguration configuration = configuration_;
    if (networkSelections_[index] == configuration.networkSelection) {
        return;
    }
    configuration.networkSelection = networkSelections_[index];
    apply(configuration, ChangedSetting::network);
}

bool ServerAddressView::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == portField_ && type == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && portCancelButton_->isVisible()) {
        // Escape with no change to cancel is the window's, which closes.
        cancelPortChange();
        return true;
    }
    if (watched != networkPopup_) {
        return QWidget::eventFilter(watched, event);
    }
    if (type == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason) {
        networkSelectionChanged(networkPopup_->currentIndex());
    } else if (type == QEvent::KeyPress && !browsingNetworks_) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            networkSelectionChanged(networkPopup_->currentIndex());
            return true;
        }
        // The list handles the key as usual, but an entry it moves to is only browsed.
        const QScopedValueRollback browsing(browsingNetworks_, true);
        QCoreApplication::sendEvent(networkPopup_, event);
        return true;
    } else if (type == QEvent::Wheel && !browsingNetworks_) {
        const QScopedValueRollback browsing(browsingNetworks_, true);
        QCoreApplication::sendEvent(networkPopup_, event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ServerAddressView::portTextEdited() {
    if (!isApplyingConfiguration_) {
        refreshPortChangeUI();
    }
}

HubServerPortInputValidation ServerAddressView::validatedPortInput() const {
    return HubServerPortInputValidator::validate(portField_->text().toStdString(),
                                                 configuration_.port);
}

void ServerAddressView::refreshPortChangeUI() {
    showPortValidation(validatedPortInput());
}

void ServerAddressView::showPortValidation(const HubServerPortInputValidation& validation) {
    portFeedbackClearWorkItem_.cancel();
    refreshPortActionControls(validation);
    if (validation.kind() == HubServerPortInputValidation::Kind::invalid) {
        showPortFeedback(qs(validation.message()), Role::red, std::nullopt);
    } else {
        hidePortFeedback();
    }
}

void ServerAddressView::refreshPortActionControls(const HubServerPortInputValidation& validation) {
    const bool changed = validation.kind() != HubServerPortInputValidation::Kind::unchanged;
    portApplyButton_->setVisible(changed);
    portCancelButton_->setVisible(changed);
    portApplyButton_->setEnabled(validation.kind() == HubServerPortInputValidation::Kind::valid &&
                                 !isApplyingConfiguration_);
    portCancelButton_->setEnabled(!isApplyingConfiguration_);
}

void ServerAddressView::applyPortChange() {
    if (isApplyingConfiguration_) {
        return;
    }
    const HubServerPortInputValidation validation =
        HubServerPortAvailabilityChecker::validateForApply(portField_->text().toStdString(),
                                                           configuration_,
                                                           serviceProvider_->availableServices());
    if (validation.kind() != HubServerPortInputValidation::Kind::valid) {
        showPortValidation(validation);
        return;
    }
    HubServerConfiguration configuration = configuration_;
    configuration.port = validation.port();
    apply(configuration, ChangedSetting::port);
}

void ServerAddressView::cancelPortChange() {
    portFeedbackClearWorkItem_.cancel();
    showAppliedPort();
    portApplyButton_->hide();
    portCancelButton_->hide();
    hidePortFeedback();
}

void ServerAddressView::showAppliedPort() {
    portField_->setText(QString::number(configuration_.port.number()));
}

// Applying.

void ServerAddressView::apply(const HubServerConfiguration& configuration,
                              ChangedSetting changedSetting) {
    if (isApplyingConfiguration_) {
        return;
    }
    isApplyingConfiguration_ = true;
    // The disabled controls would send the focus on to the startup options, where the next
    // Space would act: the port field holds it, read-only, and the control used gets it back.
    QWidget* focused = window()->focusWidget();
    if (focused == networkPopup_ || focused == portField_ || focused == portApplyButton_ ||
        focused == portCancelButton_) {
        focusAfterApply_ =
            focused == networkPopup_ ? static_cast<QWidget*>(networkPopup_) : portField_;
        portField_->setFocus(Qt::OtherFocusReason);
    }
    setApplyingControlsEnabled(false);
    portApplyButton_->setEnabled(false);
    portCancelButton_->setEnabled(false);
    if (changedSetting == ChangedSetting::port) {
        showPortFeedback(QStringLiteral("Changing port…"), Role::secondaryLabel, std::nullopt);
    }

    const QPointer<ServerAddressView> self(this);
    callbacks_.applyConfiguration(configuration, [self, mainThread = mainThread_, changedSetting](
                                                     ServerSettingsApplyResult result) {
        mainThread->post([self, changedSetting, result = std::move(result)] {
            if (!self) {
                return;
            }
            if (result) {
                self->applySucceeded(*result, changedSetting);
            } else {
                self->applyFailed(Error(result.error()), changedSetting);
            }
        });
    });
}

void ServerAddressView::applySucceeded(const ServerSettingsApplied& applied,
                                       ChangedSetting changedSetting) {
    isApplyingConfiguration_ = false;
    configuration_ = applied.configuration;
    setApplyingControlsEnabled(true);
    if (changedSetting == ChangedSetting::port) {
        showAppliedPort();
        portApplyButton_->hide();
        portCancelButton_->hide();
        const int port = configuration_.port.number();
        if (applied.notSavedReason) {
            showPortFeedback(QStringLiteral("Port changed to %1, but not saved. ").arg(port) +
                                 unsavedChangeText(*applied.notSavedReason),
                             Role::orange, std::nullopt);
        } else {
            showPortFeedback(
                QStringLiteral("Port changed — reload the control page on %1.").arg(port),
                Role::green, kPortFeedbackDuration);
        }
    } else {
        reloadNetworkPopup();
        refreshPortChangeUI();
        if (applied.notSavedReason) {
            showPortFeedback(QStringLiteral("Network changed, but not saved. ") +
                                 unsavedChangeText(*applied.notSavedReason),
                             Role::orange, std::nullopt);
        }
    }
}

void ServerAddressView::applyFailed(const Error& error, ChangedSetting changedSetting) {
    isApplyingConfiguration_ = false;
    setApplyingControlsEnabled(true);
    if (changedSetting == ChangedSetting::network) {
        reloadNetworkPopup();
        refreshPortChangeUI();
        Alert{.style = AlertStyle::warning,
              .message = QStringLiteral("Kelvra Hub could not apply the server settings."),
              .informativeText = qs(error.description())}
            .openOver(*window());
    } else {
        refreshPortActionControls(validatedPortInput());
        showPortFeedback(QStringLiteral("Could not change port: ") + qs(error.description()),
                         Role::red, std::nullopt);
    }
}

void ServerAddressView::setApplyingControlsEnabled(bool enabled) {
    networkPopup_->setEnabled(enabled);
    portField_->setReadOnly(!enabled);
    if (enabled && focusAfterApply_) {
        if (window()->focusWidget() == portField_) {
            focusAfterApply_->setFocus(Qt::OtherFocusReason);
        }
        focusAfterApply_ = nullptr;
    }
}

void ServerAddressView::showPortFeedback(const QString& message, ThemeColors::Role role,
                                         std::optional<MainThreadExecutor::Duration> clearsAfter) {
    portFeedbackClearWorkItem_.cancel();
    portFeedbackLabel_->setText(message);
    portFeedbackLabel_->setToolTip(message);
    // Heard with the port field, and when it changes while the field has the focus.
    portField_->setAccessibleDescription(message);
    ThemeColors::setTextRole(portFeedbackLabel_, role);
    portFeedbackLabel_->show();
    // A store's reason with its path takes more lines than the usual messages.
    emit feedbackChanged();
    if (clearsAfter) {
        const QPointer<ServerAddressView> self(this);
        portFeedbackClearWorkItem_ = mainThread_->postDelayed(*clearsAfter, [self] {
            if (self) {
                self->hidePortFeedback();
            }
        });
    }
}

void ServerAddressView::hidePortFeedback() {
    portFeedbackClearWorkItem_.cancel();
    portFeedbackLabel_->clear();
    portFeedbackLabel_->setToolTip({});
    portField_->setAccessibleDescription({});
    portFeedbackLabel_->hide();
    emit feedbackChanged();
}

}  // namespace kelvra
