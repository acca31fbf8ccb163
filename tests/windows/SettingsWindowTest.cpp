// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "WidgetTestSupport.h"
#include "core/Error.h"
#include "server_config/FakeNetworkServices.h"
#include "support/BoundSocket.h"
#include "support/ManualMainThreadExecutor.h"
#include "support/TestSupport.h"
#include "windows/SettingsWindow.h"
#include "windows/widgets/HelpPopover.h"
#include "windows/widgets/StatusDot.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
/// A port nothing listens on, as text.
QString freePort() {
    return QString::number(testing::freePort());
}

class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest() {
        source_->interfaces = {{"enp3s0", "192.168.1.20"}, {"wlp2s0", "10.0.0.7"}};
    }

    // Made on first use, so a test can set the desktop's state it starts from.
    SettingsWindow& window() {
        if (!window_) {
            window_ = std::make_unique<SettingsWindow>(
                std::make_shared<HubNetworkServiceProvider>(source_), executor_,
                SettingsWindow::Callbacks{
                    .server = {
                        .applyConfiguration =
                            [this](const HubServerConfiguration& configuration, auto completion) {
                                applied_.push_back(configuration);
                                pendingApply_ = std::move(completion);
                                // Like the controller: the apply shows until it answers.
                                window().showServerStatus(ServerStatus::applying());
                            },
                        .copyURL = [this] { ++copies_; }},
                    .startupOptions = {
                        .setLaunchAtLogin =
                            [this](bool enabled) -> std::expected<LaunchAtLoginState, Error> {
                            if (failure_) {
                                return std::unexpected(*failure_);
                            }
                            return launchAtLogin_ = enabled ? launchAtLoginAfterEnabling_
                                                            : LaunchAtLoginState::disabled;
                        },
                        .setShowWelcomeWindow = [this](bool) -> std::expected<void, Error> {
                            if (failure_) {
                                return std::unexpected(*failure_);
                            }
                            return {};
                        },
                        .launchAtLoginState = [this] { return launchAtLogin_; },
                        .openLoginItemsSettings = {},
                    }});
            window_->present(configuration_, true);
            testing::showAndWait(window_.get());
        }
        return *window_;
    }

    template <typename T>
    T* child(const QString& name) {
        return testing::child<T>(window(), name);
    }
    QLineEdit* portField() { return child<QLineEdit>("portField"); }
    QPushButton* applyButton() { return child<QPushButton>("portApplyButton"); }
    QToolButton* cancelButton() { return child<QToolButton>("portCancelButton"); }
    QLabel* feedback() { return child<QLabel>("portFeedbackLabel"); }
    QComboBox* networks() { return child<QComboBox>("networkPopup"); }

    void typePort(const QString& text) {
        portField()->selectAll();
        QTest::keyClick(portField(), Qt::Key_Backspace);
        QTest::keyClicks(portField(), text);
    }

    void serverReady(const std::string& url) {
        runningURL_ = url;
        window().showServerStatus(ServerStatus::running(url));
    }

    // The controller's side of a finished apply: the new or restored server is ready before the
    // answer (what runs, and why it was not saved if so) comes.
    void finishApply(std::expected<std::string, ServerConfigurationError> result) {
        ASSERT_TRUE(pendingApply_);
        ServerSettingsApplyResult answer =
            std::unexpected(ServerConfigurationError::appIsClosing());
        if (result) {
            serverReady(*result);
            answer = ServerSettingsApplied{applied_.back(), *result, notSavedReason_};
        } else {
            serverReady(runningURL_);
            answer = std::unexpected(result.error());
        }
        std::exchange(pendingApply_, nullptr)(std::move(answer));
        executor_->runPending();
    }

    HubServerConfiguration configuration_;
    std::optional<std::string> notSavedReason_;
    LaunchAtLoginState launchAtLogin_ = LaunchAtLoginState::disabled;
    LaunchAtLoginState launchAtLoginAfterEnabling_ = LaunchAtLoginState::enabled;
    /// Every store fails with it while it is set.
    std::optional<Error> failure_;
    std::shared_ptr<testing::FakeNetworkServices> source_ =
        std::make_shared<testing::FakeNetworkServices>();
    std::shared_ptr<ManualMainThreadExecutor> executor_ =
        std::make_shared<ManualMainThreadExecutor>();

    std::vector<HubServerConfiguration> applied_;
    std::function<void(ServerSettingsApplyResult)> pendingApply_;
    std::string runningURL_;
    int copies_ = 0;
    std::unique_ptr<SettingsWindow> window_;
};

TEST_F(SettingsWindowTest, NetworkListHoldsTheServicesAndAGoneStoredOne) {
    const struct {
        const char* name;
        HubNetworkSelection stored;
        QStringList extraItems;
        int selected;
    } rows[] = {
        {"localhost", HubNetworkSelection::localhost(), {}, 1},
        {"a listed service", HubNetworkSelection::service("wlp2s0", "Old name"), {}, 3},
        {"a gone service",
         HubNetworkSelection::service("usb0", "iPhone USB"),
         {"iPhone USB (unavailable)"},
         4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        window().present({31603, row.stored}, true);
        QStringList items;
        for (int index = 0; index < networks()->count(); ++index) {
            items << networks()->itemText(index);
        }
        EXPECT_EQ(items, QStringList({"All networks", "Localhost only (this computer)",
                                      "Ethernet (enp3s0) — 192.168.1.20",
                                      "Ethernet (wlp2s0) — 10.0.0.7"}) +
                             row.extraItems);
        EXPECT_EQ(networks()->currentIndex(), row.selected);
    }
}

TEST_F(SettingsWindowTest, PortFieldShowsItsThreeStates) {
    // A port another program holds, which the real bind check refuses on Apply.
    const auto busy = testing::bindSocket("0.0.0.0", true);

    const struct {
        QString typed;
        bool buttonsShown;
        bool applyEnabled;
        bool messageShown;
    } rows[] = {
        {"31603", false, false, false},
        {"80", true, false, true},
        {QString::number(busy.port), true, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed.toStdString());
        typePort(row.typed);
        EXPECT_EQ(applyButton()->isVisible(), row.buttonsShown);
        EXPECT_EQ(cancelButton()->isVisible(), row.buttonsShown);
        EXPECT_EQ(applyButton()->isEnabled(), row.applyEnabled);
        EXPECT_EQ(feedback()->isVisible(), row.messageShown);
        // The message belongs to the field, as a screen reader hears it there.
        EXPECT_EQ(
            QAccessible::queryAccessibleInterface(portField())->text(QAccessible::Description),
            row.messageShown ? feedback()->text() : QString());
    }
    // The port is tried on the server's address when applied, not at every keystroke.
    QTest::keyClick(portField(), Qt::Key_Return);
    EXPECT_TRUE(feedback()->isVisible());
    EXPECT_FALSE(applyButton()->isEnabled());
    EXPECT_TRUE(applied_.empty());
}

// Return applies only a valid port and Escape restores the stored one. A failed change keeps
// its message; a success shows its own for a while, one that could not be saved says why until
// something replaces it.
TEST_F(SettingsWindowTest, AFailedPortChangeKeepsItsMessageAndASuccessShowsItsForAWhile) {
    serverReady("http://192.168.1.20:31603/");
    typePort("12");
    QTest::keyClick(portField(), Qt::Key_Return);
    EXPECT_TRUE(applied_.empty());
    EXPECT_TRUE(feedback()->isVisible());
    QTest::keyClick(portField(), Qt::Key_Escape);
    EXPECT_EQ(portField()->text(), "31603");
    EXPECT_FALSE(feedback()->isVisible());
    EXPECT_FALSE(applyButton()->isVisible());

    const QString port = freePort();
    typePort(port);
    QTest::keyClick(portField(), Qt::Key_Enter);
    EXPECT_EQ(applied_.at(0).port.number(), port.toInt());
    EXPECT_TRUE(portField()->isReadOnly());
    EXPECT_FALSE(networks()->isEnabled());
    EXPECT_FALSE(applyButton()->isEnabled());
    QTest::keyClick(networks(), Qt::Key_Down);  // a second apply while one runs
    EXPECT_EQ(applied_.size(), 1u);

    finishApply(
        std::unexpected(ServerConfigurationError::applyFailed("The port could not be opened.")));
    EXPECT_EQ(portField()->text(), port);
    EXPECT_TRUE(applyButton()->isVisible() && applyButton()->isEnabled());
    EXPECT_TRUE(feedback()->text().endsWith("The port could not be opened."));
    EXPECT_EQ(testing::spokenName(feedback()), feedback()->text()) << "what a screen reader hears";
    executor_->advance(30s);
    EXPECT_TRUE(feedback()->isVisible());
    QTest::keyClick(portField(), Qt::Key_Backspace);
    EXPECT_FALSE(feedback()->isVisible()) << "the next edit clears it";

    typePort(port);
    QTest::mouseClick(applyButton(), Qt::LeftButton);
    finishApply("http://192.168.1.20:" + port.toStdString() + "/");
    EXPECT_EQ(portField()->text(), port);
    EXPECT_TRUE(portField()->isEnabled());
    EXPECT_FALSE(applyButton()->isVisible());
    EXPECT_TRUE(feedback()->text().contains(port));
    executor_->advance(4900ms);
    EXPECT_TRUE(feedback()->isVisible());
    executor_->advance(200ms);
    EXPECT_FALSE(feedback()->isVisible());

    notSavedReason_ = "The disk is full.";
    const QString unsaved = freePort();
    typePort(unsaved);
    QTest::keyClick(portField(), Qt::Key_Return);
    finishApply("http://192.168.1.20:" + unsaved.toStdString() + "/");
    EXPECT_TRUE(feedback()->text().contains("The disk is full."));
    EXPECT_EQ(feedback()->palette().color(QPalette::WindowText),
              ThemeColors::color(ThemeColors::Role::orange, feedback()->palette()));
    executor_->advance(30s);
    EXPECT_TRUE(feedback()->isVisible());
    EXPECT_EQ(testing::takeAlert(window()), QString());
}

// A failed network change is alerted and undone; one that runs but could not be saved says why
// under the port, without an alert.
TEST_F(SettingsWindowTest, ANetworkChangeAppliesAndAFailureIsAlertedAndUndone) {
    serverReady("http://192.168.1.20:31603/");
    networks()->setFocus();
    QTest::keyClick(networks(), Qt::Key_Down);
    QTest::keyClick(networks(), Qt::Key_Return);
    ASSERT_EQ(applied_.size(), 1u);
    EXPECT_EQ(applied_[0].networkSelection, HubNetworkSelection::localhost());
    finishApply(std::unexpected(ServerConfigurationError::applyFailed("the port is taken")));

    EXPECT_EQ(networks()->currentIndex(), 0);
    EXPECT_TRUE(testing::takeAlert(window()).endsWith("the port is taken"));

    notSavedReason_ = "The disk is full.";
    QTest::keyClick(networks(), Qt::Key_End);
    QTest::keyClick(networks(), Qt::Key_Return);
    ASSERT_EQ(applied_.size(), 2u);
    finishApply("http://10.0.0.7:31603/");
    EXPECT_EQ(networks()->currentText(), "Ethernet (wlp2s0) — 10.0.0.7");
    EXPECT_TRUE(feedback()->text().contains("The disk is full."));
    EXPECT_EQ(testing::takeAlert(window()), QString());
}

// Browsing the network list applies nothing until the choice is made; after an apply the focus
// is back on the control used; Escape closes the window unless a port edit is there to cancel.
TEST_F(SettingsWindowTest, KeysChooseApplyAndCloseWhereExpected) {
    serverReady("http://192.168.1.20:31603/");
    EXPECT_EQ(testing::spokenName(networks()), "Network interface");
    const struct {
        const char* name;
        QString start;
        std::vector<Qt::Key> keys;
        size_t applies;
        QString focusAfter;  ///< empty: the window closed
    } rows[] = {
        {"arrows only browse",
         "networkPopup",
         {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up},
         0,
         "networkPopup"},
        {"Return chooses", "networkPopup", {Qt::Key_Down, Qt::Key_Return}, 1, "networkPopup"},
        {"leaving chooses", "networkPopup", {Qt::Key_Up, Qt::Key_Tab}, 1, "Port"},
        {"Apply", "portApplyButton", {Qt::Key_Space}, 1, "portField"},
        {"Escape closes", "networkPopup", {Qt::Key_Escape}, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        window().present(configuration_, true);
        applied_.clear();
        if (row.start == "portApplyButton") {
            typePort(freePort());
        }
        child<QWidget>(row.start)->setFocus();
        for (const Qt::Key key : row.keys) {
            QTest::keyClick(QApplication::focusWidget(), key);
        }
        ASSERT_EQ(applied_.size(), row.applies);
        if (row.applies > 0) {
            configuration_ = applied_.back();
            finishApply("http://192.168.1.20:" + std::to_string(configuration_.port.number()) +
                        "/");
        }
        EXPECT_EQ(window().isVisible(), !row.focusAfter.isEmpty());
        if (!row.focusAfter.isEmpty()) {
            EXPECT_EQ(QApplication::focusWidget(), child<QWidget>(row.focusAfter));
        }
    }
    EXPECT_EQ(testing::spokenName(window().findChild<StatusDot*>()), "Running");
}

// Run at login shows the desktop's state and its notes. A choice that cannot be saved: an alert
// over the window says why, and the control shows what holds. Copy URL is the tray's own copy,
// which reports its failure itself.
TEST_F(SettingsWindowTest, StartupOptionsShowWhatHoldsAndCopyGoesToTheTray) {
    launchAtLogin_ = LaunchAtLoginState::requiresApproval;
    auto* checkbox = child<QCheckBox>("launchAtLoginCheckbox");
    auto* note = child<QLabel>("launchAtLoginNoteLabel");
    EXPECT_FALSE(checkbox->isChecked());
    EXPECT_TRUE(note->isVisible());
    const QString switchedOff = note->text();
    EXPECT_EQ(testing::spokenName(note), switchedOff);

    launchAtLogin_ = LaunchAtLoginState::disabled;
    launchAtLoginAfterEnabling_ = LaunchAtLoginState::requiresApproval;
    QTest::mouseClick(checkbox, Qt::LeftButton);
    EXPECT_NE(note->text(), switchedOff) << "asks to finish what was just turned on";
    launchAtLogin_ = LaunchAtLoginState::disabled;
    window().reloadLaunchAtLoginControls();
    EXPECT_FALSE(note->isVisible());

    QTest::mouseClick(child<QPushButton>("copyURLButton"), Qt::LeftButton);
    EXPECT_EQ(copies_, 1);
    failure_ = Error("The settings folder is read-only.", "test");
    for (const char* name : {"welcomeCheckbox", "launchAtLoginCheckbox"}) {
        SCOPED_TRACE(name);
        auto* control = child<QAbstractButton>(name);
        const bool checked = control->isChecked();
        QTest::mouseClick(control, Qt::LeftButton);
        EXPECT_EQ(control->isChecked(), checked);
        EXPECT_TRUE(testing::takeAlert(window()).contains("read-only"));
    }
}

TEST_F(SettingsWindowTest, ScreenshotsAndHelpButtonsOpenTheirText) {
    serverReady("http://192.168.1.20:31603/");
    typePort("80");
    testing::saveScreenshots(&window(), "settings");

    auto* help = child<QToolButton>("Port");
    EXPECT_EQ(help->accessibleDescription(), help->toolTip());
    QTest::mouseClick(help, Qt::LeftButton);
    auto* popover = window().findChild<HelpPopover*>();
    ASSERT_NE(popover, nullptr);
    EXPECT_EQ(popover->anchor(), help);
    testing::saveScreenshots(popover, "settings-help");
}

}  // namespace
}  // namespace kelvra
