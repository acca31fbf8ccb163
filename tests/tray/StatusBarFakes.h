// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "backend/BackendSupervising.h"
#include "clicker/FakeKeyboardTap.h"
#include "clicker/FakePermissionProvider.h"
#include "core/UniqueFd.h"
#include "server_config/FakeNetworkServices.h"
#include "shell/login_item/FakeLoginItemService.h"
#include "tray/SettingsService.h"
#include "tray/StatusBarView.h"

namespace kelvra::testing {

/// The addresses a stand-in server answers on before and after a port change, and the start
/// failure a stand-in supervisor reports.
inline const std::string firstURL = "http://127.0.0.1:31603/";
inline const std::string secondURL = "http://127.0.0.1:4000/";
inline const BackendStartError startTimeout = BackendSupervisorError::startupTimeout(15);

/// Every setting kept in `store`, the login item in `loginItems`.
inline std::shared_ptr<SettingsService> settingsIn(
    const std::shared_ptr<SettingsStore>& store,
    std::shared_ptr<LoginItemService> loginItems = std::make_shared<FakeLoginItemService>()) {
    return std::make_shared<SettingsService>(
        std::make_shared<HubServerConfigurationStore>(store),
        std::make_shared<WelcomeWindowPreference>(store),
        std::make_shared<LaunchAtLoginPreference>(std::move(loginItems), store),
        std::make_shared<ClickerInputConfigurationStore>(store));
}

/// Records what the controller shows; holds alerts and browser answers for the test to give.
class FakeStatusBarView final : public StatusBarView {
public:
    struct Alert {
        std::string message, informativeText;
        std::function<void()> dismissed;
    };

    StatusLine status;
    bool urlActionsEnabled = true;
    int statusItemRemovals = 0;
    std::vector<Alert> alerts;
    bool clipboardWorks = true;
    std::vector<std::function<void(bool)>> browserAnswers;
    int alertRaises = 0;

    void setStatusLine(const StatusLine& line) override { status = line; }
    void setToolTip(const std::string&) override {}
    void setURLActionsEnabled(bool enabled) override { urlActionsEnabled = enabled; }
    void removeStatusItem() override { ++statusItemRemovals; }
    void showCriticalAlert(const std::string& message, const std::string& informativeText,
                           std::function<void()> dismissed) override {
        alerts.push_back({message, informativeText, std::move(dismissed)});
    }
    void raiseCriticalAlerts() override { ++alertRaises; }
    void confirmQuit(std::function<void(bool)> completion) override { completion(true); }
    bool writeClipboard(const std::string&) override { return clipboardWorks; }
    void openURL(const std::string&, std::function<void(bool)> completion) override {
        browserAnswers.push_back(std::move(completion));
    }
};

/// A supervisor whose start and stop end when the test says so. Its callbacks stay reachable
/// after `detachCallbacks`, so a test can deliver one that was already on its way.
class FakeSupervisor final : public BackendSupervising {
public:
    explicit FakeSupervisor(std::optional<BackendServerBinding> given) : binding(given) {}

    std::optional<BackendServerBinding> binding;
    BackendSupervisorCallbacks callbacks;
    StartCompletion startCompletion;
    std::vector<std::function<void()>> stopCompletions;
    bool stopsAtOnce = true;
    bool stopped = false;

    void setCallbacks(BackendSupervisorCallbacks given) override { callbacks = std::move(given); }
    void detachCallbacks() override {}
    void start(StartCompletion completion) override { startCompletion = std::move(completion); }
    void stop(std::function<void()> completion) override {
        stopCompletions.push_back(std::move(completion));
        if (stopsAtOnce || stopped) {
            finishStop();
        }
    }
    std::shared_ptr<ClickerCommandInput> clickerCommands() override { return commands_; }
    void setClickerDistributorEnabled(bool enabled, UpdateCompletion completion) override {
        completion(enabled);
    }
    std::optional<int32_t> recordedExitCode() const override { return std::nullopt; }
    std::optional<pid_t> processIdentifier() const override { return std::nullopt; }

    void ready(const std::string& url) { std::exchange(startCompletion, {})(url); }
    void fail(BackendStartError error) {
        std::exchange(startCompletion, {})(std::unexpected(std::move(error)));
    }
    void finishStop() {
        stopped = true;
        for (auto& completion : std::exchange(stopCompletions, {})) {
            completion();
        }
    }

    /// The command lines written to its input so far, as a backend would read them.
    const std::vector<std::string>& sent() {
        char buffer[4096];
        for (ssize_t size; (size = ::read(input_[0], buffer, sizeof buffer)) > 0;) {
            unread_.append(buffer, static_cast<size_t>(size));
        }
        for (size_t end; (end = unread_.find('\n')) != std::string::npos;) {
            sent_.push_back(unread_.substr(0, end));
            unread_.erase(0, end + 1);
        }
        return sent_;
    }

private:
    // Keys go to a real pipe, as a backend's do; its input is open from the start.
    std::array<int, 2> input_ = [] {
        std::array<int, 2> ends{-1, -1};
        EXPECT_EQ(::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK), 0);
        return ends;
    }();
    UniqueFd reader_{input_[0]};
    std::shared_ptr<ClickerCommandInput> commands_ = [this] {
        auto commands = std::make_shared<ClickerCommandInput>();
        commands->open(std::make_shared<UniqueFd>(input_[1]));
        return commands;
    }();
    std::string unread_;
    std::vector<std::string> sent_;
};

}  // namespace kelvra::testing
