// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "backend/BackendSupervising.h"
#include "clicker/ClickerInputMonitoring.h"
#include "clicker/FakePermissionProvider.h"
#include "server_config/FakeNetworkServices.h"
#include "tray/StatusBarView.h"

namespace kelvra::testing {

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
    std::vector<ClickerCapturedInput> sent;

    void setCallbacks(BackendSupervisorCallbacks given) override { callbacks = std::move(given); }
    void detachCallbacks() override {}
    void start(StartCompletion completion) override { startCompletion = std::move(completion); }
    void stop(std::function<void()> completion) override {
        stopCompletions.push_back(std::move(completion));
        if (stopsAtOnce || stopped) {
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
};

/// A keyboard listener that only records whether it runs.
class FakeClickerMonitor final : public ClickerInputMonitoring {
public:
    bool started = false, stopped = false;

    void start(std::shared_ptr<ClickerInputMonitoring>) override { started = true; }
    void stop() override { stopped = true; }
    void join() override {}
    void setConfiguration(const ClickerInputConfiguration&) override {}
    void setRecordingRequired(bool) override {}
};

}  // namespace kelvra::testing
