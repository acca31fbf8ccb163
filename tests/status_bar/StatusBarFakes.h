// SPDX-License-Identifier: MIT
#pragma once

#include <arpa/inet.h>
#include <memory>
#include <net/if.h>
#include <string>
#include <vector>

#include "backend/BackendSupervising.h"
#include "clicker/ClickerInputMonitoring.h"
#include "core/ManualMainThreadExecutor.h"
#include "server_config/NetworkChangeSource.h"
#include "server_config/NetworkServiceSource.h"
#include "status_bar/StatusBarController.h"
#include "support/RecordingLog.h"

namespace kelvra::testing {

/// Records what the controller shows and holds each asynchronous answer for the test to give.
class FakeStatusBarView final : public StatusBarView {
public:
    struct Alert {
        std::string message;
        std::string informativeText;
        std::function<void()> dismissed;
    };

    std::vector<StatusLine> statusLines;
    std::string toolTip;
    bool urlActionsEnabled = true;
    int statusItemRemovals = 0;
    std::vector<Alert> alerts;
    std::vector<std::function<void(bool)>> quitConfirmations;
    bool clipboardWorks = true;
    std::vector<std::string> clipboard;
    std::vector<std::pair<std::string, std::function<void(bool)>>> openedURLs;
    int terminationRequests = 0;
    std::vector<std::optional<std::string>> serverURLs;
    std::vector<bool> welcomeWindows;
    int networkReloads = 0;
    std::vector<std::pair<ClickerDistributorState, bool>> clickerStates;
    int clickerRestarts = 0;
    int permissionRefreshes = 0;
    std::vector<ClickerDirection> detectedInput;

    void setStatusLine(const StatusLine& line) override { statusLines.push_back(line); }
    void setToolTip(const std::string& text) override { toolTip = text; }
    void setURLActionsEnabled(bool enabled) override { urlActionsEnabled = enabled; }
    void removeStatusItem() override { ++statusItemRemovals; }
    void showCriticalAlert(const std::string& message, const std::string& informativeText,
                           std::function<void()> dismissed) override {
        alerts.push_back({message, informativeText, std::move(dismissed)});
    }
    void confirmQuit(std::function<void(bool)> completion) override {
        quitConfirmations.push_back(std::move(completion));
    }
    bool writeClipboard(const std::string& text) override {
        if (clipboardWorks) {
            clipboard.push_back(text);
        }
        return clipboardWorks;
    }
    void openURL(const std::string& url, std::function<void(bool)> completion) override {
        openedURLs.emplace_back(url, std::move(completion));
    }
    void requestTermination() override { ++terminationRequests; }
    void showServerURL(const std::optional<std::string>& url) override {
        serverURLs.push_back(url);
    }
    void showWelcomeWindow(bool dontShowAgainChecked) override {
        welcomeWindows.push_back(dontShowAgainChecked);
    }
    void showSettingsWindow(const std::optional<std::string>& url) override {
        serverURLs.push_back(url);
    }
    void reloadNetworkChoices() override { ++networkReloads; }
    void showAboutWindow() override {}
    void showClickerWindow(const ClickerDistributorState& state, bool available) override {
        clickerStates.emplace_back(state, available);
    }
    void updateClickerState(const ClickerDistributorState& state, bool available) override {
        clickerStates.emplace_back(state, available);
    }
    void clickerBackendRestarting() override { ++clickerRestarts; }
    void setClickerListenerState(ClickerInputListenerState) override {}
    void setClickerConflicts(const std::vector<ClickerKeystroke>&) override {}
    void refreshClickerPermission() override { ++permissionRefreshes; }
    void clickerInputDetected(ClickerDirection direction) override {
        detectedInput.push_back(direction);
    }

    const StatusLine& status() const { return statusLines.back(); }
};

/// A supervisor whose start and stop finish when the test says so. Callbacks stay reachable
/// after `detachCallbacks`, so a test can deliver one that was already on its way.
class FakeSupervisor final : public BackendSupervising {
public:
    explicit FakeSupervisor(std::optional<BackendServerBinding> given)
        : binding(std::move(given)) {}

    std::optional<BackendServerBinding> binding;
    BackendSupervisorCallbacks callbacks;
    bool detached = false;
    StartCompletion startCompletion;
    std::vector<std::function<void()>> stopCompletions;
    bool stopsAtOnce = true;
    bool stopped = false;
    std::vector<ClickerCapturedInput> sent;

    void setCallbacks(BackendSupervisorCallbacks given) override { callbacks = std::move(given); }
    void detachCallbacks() override { detached = true; }
    void start(StartCompletion completion) override { startCompletion = std::move(completion); }
    void stop(std::function<void()> completion) override {
        stopCompletions.push_back(std::move(completion));
        if (stopsAtOnce) {
            finishStop();
        }
    }
    void sendClickerKey(ClickerDirection direction) override { sent.emplace_back(direction); }
    void sendClickerAction(ClickerCustomAction action) override { sent.emplace_back(action); }
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
    /// Started and not stopped: its child would be running.
    bool running() const { return !stopped; }
};

/// A keyboard listener that only records whether it runs.
class FakeClickerMonitor final : public ClickerInputMonitoring {
public:
    bool started = false;
    bool stopped = false;

    void start() override { started = true; }
    void stop() override { stopped = true; }
    void join() override {}
    void setConfiguration(const ClickerInputConfiguration&) override {}
    void setRecordingRequired(bool) override {}
};

/// The machine's interfaces as the test sets them.
class FakeNetworkServices final : public NetworkServiceSource {
public:
    /// One usable interface "eth0" at `address`, or none.
    void setEthernetAddress(std::optional<std::string> address) { address_ = std::move(address); }

    std::optional<std::vector<InterfaceAddressEntry>> interfaceAddresses() const override {
        if (!address_) {
            return std::vector<InterfaceAddressEntry>{};
        }
        sockaddr_storage storage{};
        auto* inet = reinterpret_cast<sockaddr_in*>(&storage);
        inet->sin_family = AF_INET;
        ::inet_pton(AF_INET, address_->c_str(), &inet->sin_addr);
        return std::vector{InterfaceAddressEntry{"eth0", IFF_UP | IFF_RUNNING, storage}};
    }
    std::optional<std::vector<NetworkServiceDescription>> services() const override {
        return std::vector{NetworkServiceDescription{
            true, NetworkServiceInterface{"eth0", "Ethernet"}, "eth0", "Ethernet"}};
    }

private:
    std::optional<std::string> address_;
};

class IdleNetworkChangeSource final : public NetworkChangeSource {
public:
    bool start(std::function<void()>) override { return true; }
    void stop() override {}
};

}  // namespace kelvra::testing
