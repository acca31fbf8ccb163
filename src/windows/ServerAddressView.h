// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "core/CancellableWork.h"
#include "core/Error.h"
#include "core/MainThreadExecutor.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "server_config/HubServerConfiguration.h"
#include "server_config/HubServerPortInputValidator.h"
#include "server_config/ServerSettingsApplied.h"
#include "server_config/ServerStatus.h"
#include "windows/widgets/HelpPopover.h"
#include "windows/widgets/ThemeColors.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace kelvra {

class ElidedLabel;
class StatusDot;

/// The settings window's server section: whether the server runs and at which address (with a
/// button that copies it), and the network and port it uses. It shows the configuration it is
/// given and stores nothing: Copy URL goes to the one who owns the address, and a network or
/// port change goes as a whole configuration to
/// `applyConfiguration`, which answers the configuration that runs. Main thread only.
class ServerAddressView final : public QWidget {
    Q_OBJECT

public:
    /// Applies a configuration (restarting the server, storing it on success) and completes
    /// once, on any thread.
    using ApplyConfiguration = std::function<void(const HubServerConfiguration&,
                                                  std::function<void(ServerSettingsApplyResult)>)>;

    struct Callbacks {
        ApplyConfiguration applyConfiguration;
        /// Copies the server's current address, as the tray's Copy URL does.
        std::function<void()> copyURL;
    };

    /// How long the "Port changed" message stays.
    static constexpr std::chrono::seconds kPortFeedbackDuration{5};

    ServerAddressView(std::shared_ptr<const HubNetworkServiceProvider> serviceProvider,
                      std::shared_ptr<MainThreadExecutor> mainThread, Callbacks callbacks,
                      const HelpButtonFactory& makeHelpButton, QWidget* parent = nullptr);
    ~ServerAddressView() override;

    /// Shows `configuration`, the one in effect. The port field keeps an edit while an apply
    /// runs.
    void showConfiguration(const HubServerConfiguration& configuration);
    /// The server's status in the status row, an apply included.
    void showServerStatus(const ServerStatus& status);
    /// The network list, from the services there are now.
    void reloadNetworkPopup();

signals:
    /// The message under the port came, went or changed, so the window should fit its content
    /// again.
    void feedbackChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class ChangedSetting { network, port };

    void buildContent(const HelpButtonFactory& makeHelpButton);

    void networkSelectionChanged(int index);
    void portTextEdited();
    void applyPortChange();
    void cancelPortChange();

    /// The typed port against the one in effect; whether it can be bound is asked on Apply.
    HubServerPortInputValidation validatedPortInput() const;
    void refreshPortChangeUI();
    void showPortValidation(const HubServerPortInputValidation& validation);
    void refreshPortActionControls(const HubServerPortInputValidation& validation);
    void showAppliedPort();

    void apply(const HubServerConfiguration& configuration, ChangedSetting changedSetting);
    void applySucceeded(const ServerSettingsApplied& applied, ChangedSetting changedSetting);
    void applyFailed(const Error& error, ChangedSetting changedSetting);
    void setApplyingControlsEnabled(bool enabled);

    void showPortFeedback(const QString& message, ThemeColors::Role role,
                          std::optional<MainThreadExecutor::Duration> clearsAfter);
    void hidePortFeedback();

    const std::shared_ptr<const HubNetworkServiceProvider> serviceProvider_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const Callbacks callbacks_;

    StatusDot* statusIndicator_ = nullptr;
    ElidedLabel* serverStatusLabel_ = nullptr;
    QComboBox* networkPopup_ = nullptr;
    QLineEdit* portField_ = nullptr;
    QPushButton* portApplyButton_ = nullptr;
    QToolButton* portCancelButton_ = nullptr;
    QLabel* portFeedbackLabel_ = nullptr;

    /// The configuration in effect, as last given or applied.
    HubServerConfiguration configuration_;
    std::vector<HubNetworkSelection> networkSelections_;
    bool isApplyingConfiguration_ = false;
    /// An arrow key or the wheel is moving through the network list, choosing nothing yet.
    bool browsingNetworks_ = false;
    /// The control to focus again once an apply ends.
    QPointer<QWidget> focusAfterApply_;
    CancellableWork portFeedbackClearWorkItem_;
};

}  // namespace kelvra
