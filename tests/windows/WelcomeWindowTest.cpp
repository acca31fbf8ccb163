// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "WidgetTestSupport.h"
#include "windows/WelcomeWindow.h"
#include "windows/widgets/StatusDot.h"

namespace kelvra {
namespace {

class WelcomeWindowTest : public ::testing::Test {
protected:
    WelcomeWindowTest() {
        const auto call = [this](const char* name) { return [this, name] { calls_ << name; }; };
        window_ = std::make_unique<WelcomeWindow>(
            AppVersionInfo(InfoDictionary{{"CFBundleShortVersionString", std::string("1.4.0")},
                                          {"CFBundleVersion", std::string("7")}}),
            QIcon(),
            WelcomeWindow::Callbacks{
                .onOpenControlPage = call("open control page"),
                .onOpenSettings = call("open settings"),
                .onOpenClickerDistributor = call("open clicker distributor"),
                .onShowMenu = [this](QWidget* anchor) { menuAnchor_ = anchor; },
                .setShowAtStartup = [this](bool show) -> std::expected<void, Error> {
                    if (saveFailure_) {
                        return std::unexpected(*saveFailure_);
                    }
                    shownAtStartup_.push_back(show);
                    return {};
                }});
        testing::showAndWait(window_.get());
    }

    template <typename T>
    T* child(const QString& name) {
        return testing::child<T>(*window_, name);
    }
    QAbstractButton* button(const QString& name) { return child<QAbstractButton>(name); }

    std::optional<Error> saveFailure_;
    std::vector<bool> shownAtStartup_;
    QStringList calls_;
    QWidget* menuAnchor_ = nullptr;
    std::unique_ptr<WelcomeWindow> window_;
};

TEST_F(WelcomeWindowTest, WaitsForTheServerAndThenShowsItsAddress) {
    const struct {
        std::optional<std::string> url;
        QString shown;
    } rows[] = {
        {"http://192.168.1.20:3000/", "192.168.1.20:3000"},
        {std::nullopt, "This usually takes a few seconds."},
    };
    auto* status = child<QLabel>("welcomeServerStatusLabel");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown.toStdString());
        window_->showServerStatus(row.url ? ServerStatus::running(*row.url)
                                          : ServerStatus::starting());
        const bool ready = row.url.has_value();
        EXPECT_EQ(status->text(), row.shown);
        EXPECT_EQ(testing::spokenName(status), row.shown) << "as a screen reader hears it";
        EXPECT_EQ(button("welcomeOpenButton")->isEnabled(), ready);
        EXPECT_EQ(button("welcomeChangeButton")->isVisible(), ready);
        EXPECT_EQ(window_->findChild<StatusDot*>()->isVisible(), ready);
        if (ready) {
            EXPECT_EQ(window_->focusWidget(), button("welcomeOpenButton"));
        }
    }
}

// Each button reports its action when clicked, or when Return reaches it; Return presses the open
// button only when the focus is on no button; Escape and Ctrl+W close; Tab reaches the link-style
// buttons in reading order.
TEST_F(WelcomeWindowTest, ClicksAndKeysPressTheirButtonAndClose) {
    window_->showServerStatus(ServerStatus::running("http://127.0.0.1:31603/"));
    const struct {
        QString target;  ///< empty: the window itself
        Qt::Key key;     ///< Qt::Key_unknown: a click
        Qt::KeyboardModifiers modifiers;
        QString call;  ///< empty: none
        bool staysOpen;
    } rows[] = {
        {"welcomeOpenButton", Qt::Key_unknown, {}, "open control page", true},
        {"welcomeChangeButton", Qt::Key_unknown, {}, "open settings", true},
        {"welcomeClickerDistributorButton", Qt::Key_unknown, {}, "open clicker distributor", true},
        {"welcomeCloseButton", Qt::Key_unknown, {}, "", false},
        {"welcomeCloseButton", Qt::Key_Return, {}, "", false},
        {"welcomeChangeButton", Qt::Key_Return, {}, "open settings", true},
        {"", Qt::Key_Return, {}, "open control page", true},
        {"welcomeOpenButton", Qt::Key_Escape, {}, "", false},
        {"dontShowAgainCheckbox", Qt::Key_W, Qt::ControlModifier, "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target.toStdString() + " " +
                     QKeySequence(row.key).toString().toStdString());
        testing::showAndWait(window_.get());
        QWidget* target = row.target.isEmpty() ? window_.get() : child<QWidget>(row.target);
        target->setFocus();
        calls_.clear();
        if (row.key == Qt::Key_unknown) {
            QTest::mouseClick(target, Qt::LeftButton);
        } else {
            QTest::keyClick(target, row.key, row.modifiers);
        }
        EXPECT_EQ(calls_, row.call.isEmpty() ? QStringList() : QStringList{row.call});
        EXPECT_EQ(window_->isVisible(), row.staysOpen);
    }
    testing::showAndWait(window_.get());
    QAbstractButton* showMenu = button("welcomeShowMenuButton");
    QTest::mouseClick(showMenu, Qt::LeftButton);
    EXPECT_EQ(menuAnchor_, showMenu);

    button("welcomeOpenButton")->setFocus();
    QStringList stops;
    for (int step = 0; step < 5; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        stops << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(stops,
              QStringList({"welcomeChangeButton", "welcomeShowMenuButton", "dontShowAgainCheckbox",
                           "welcomeCloseButton", "welcomeClickerDistributorButton"}));
}

TEST_F(WelcomeWindowTest, TheCheckboxStoresTheOppositeAndSurvivesAFailedSave) {
    auto* checkbox = child<QCheckBox>("dontShowAgainCheckbox");
    EXPECT_FALSE(checkbox->isChecked());
    QTest::mouseClick(checkbox, Qt::LeftButton);
    EXPECT_EQ(shownAtStartup_, std::vector<bool>{false});

    saveFailure_ = Error("The settings folder is read-only.", "test");
    QTest::mouseClick(checkbox, Qt::LeftButton);
    EXPECT_TRUE(checkbox->isChecked());
    EXPECT_TRUE(testing::takeAlert(*window_).contains("read-only"));

    saveFailure_.reset();
    QTest::mouseClick(checkbox, Qt::LeftButton);
    EXPECT_EQ(shownAtStartup_, (std::vector<bool>{false, true}));
}

// Without a tray image there is still an icon.
TEST_F(WelcomeWindowTest, Screenshots) {
    EXPECT_EQ(child<QLabel>("welcomeVersionLabel")->text(), "Version 1.4.0 (7)");
    EXPECT_FALSE(child<QLabel>("welcomeIcon")->pixmap().isNull());
    testing::saveScreenshots(window_.get(), "welcome-waiting");
    window_->showServerStatus(ServerStatus::running("http://192.168.1.20:31603/"));
    testing::saveScreenshots(window_.get(), "welcome-ready");
}

}  // namespace
}  // namespace kelvra
