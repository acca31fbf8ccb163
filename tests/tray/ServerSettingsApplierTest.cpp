// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "support/ManualMainThreadExecutor.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"
#include "tray/ServerSettingsApplier.h"
#include "tray/StatusBarFakes.h"

namespace kelvra {
namespace {

constexpr int firstPort = 31603;
using testing::firstURL;
using testing::secondURL;

/// The real host over supervisors whose stop and start end when the test plays their answers.
class FakeBackend {
public:
    FakeBackend()
        : host(BackendHost::create(
              [this](std::optional<BackendServerBinding> binding) {
                  supervisors.push_back(std::make_shared<testing::FakeSupervisor>(binding));
                  supervisors.back()->stopsAtOnce = false;
                  return supervisors.back();
              },
              {.currentChanged = [](auto) {},
               .ready = [](auto&) {},
               .stopping = [] {},
               .reports = {}})) {}

    std::vector<std::shared_ptr<testing::FakeSupervisor>> supervisors;
    std::shared_ptr<BackendHost> host;

    /// Brings a server up on `binding`, as the start does.
    void run(const BackendServerBinding& binding) {
        host->launch(binding, [](auto) {});
        play("r");
    }
    std::vector<int64_t> launchedPorts(size_t from = 1) const {
        std::vector<int64_t> ports;
        for (size_t index = from; index < supervisors.size(); ++index) {
            ports.push_back(supervisors[index]->binding->port);
        }
        return ports;
    }
    int stops() const {
        return static_cast<int>(std::ranges::count_if(supervisors, [](auto& supervisor) {
            return !supervisor->stopCompletions.empty() || supervisor->stopped;
        }));
    }

    /// 's': the old server has stopped; 'r': the launch is ready; 'f': it failed (and its child
    /// has stopped).
    void play(std::string_view answers) {
        for (const char answer : answers) {
            if (answer == 's') {
                for (auto& supervisor : supervisors) {
                    if (!supervisor->stopCompletions.empty()) {
                        supervisor->finishStop();
                    }
                }
            } else if (answer == 'r') {
                const BackendServerBinding& binding = *supervisors.back()->binding;
                supervisors.back()->ready("http://" + binding.urlHost + ":" +
                                          std::to_string(binding.port) + "/");
            } else {
                supervisors.back()->fail(testing::startTimeout);
                supervisors.back()->finishStop();
            }
        }
    }
};

class ServerSettingsApplierTest : public ::testing::Test {
protected:
    ServerSettingsApplierTest() { makeApplier(); }

    /// A fresh applier over `store`, its server running on the stored settings if `running`.
    void makeApplier(bool running = true) {
        backend = std::make_shared<FakeBackend>();
        // Server settings only: the startup options and clicker keys stay out of reach.
        settings = std::make_shared<SettingsService>(
            std::make_shared<HubServerConfigurationStore>(store), nullptr, nullptr, nullptr);
        applier = ServerSettingsApplier::create({
            .host = backend->host,
            .operations = OperationQueue::create(mainThread),
            .settings = settings,
            .networkServiceProvider = std::make_shared<HubNetworkServiceProvider>(network),
            .log = std::make_shared<testing::RecordingLog>(),
        });
        if (running) {
            applier->serverStarted(applier->resolveStored());
            backend->run(applier->resolveStored());
        }
    }
    void apply(HubServerConfiguration configuration, bool forceRestart = false) {
        applier->apply(configuration, forceRestart,
                       [this](auto result) { results.push_back(result); });
        mainThread->runPending();
    }

    std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::shared_ptr<testing::FakeNetworkServices> network =
        std::make_shared<testing::FakeNetworkServices>();
    std::shared_ptr<SettingsStore> store = std::make_shared<InMemorySettingsStore>();
    std::shared_ptr<FakeBackend> backend;
    std::shared_ptr<SettingsService> settings;
    std::shared_ptr<ServerSettingsApplier> applier;
    std::vector<ServerSettingsApplyResult> results;
};

// An apply to port 4000 as the backend answers it, with quitting begun before the last answer
// or not: the new settings are stored only once they run, the previous server comes back when
// they cannot, and only a failed restore is fatal. Once quitting, nothing launches or shows.
TEST_F(ServerSettingsApplierTest, EndsAsTheBackendAnswers) {
    const auto failure = Error(testing::startTimeout).description();
    const ServerSettingsApplied applied{{4000, {}}, secondURL, {}};
    const auto applyFailed = std::unexpected(ServerConfigurationError::applyFailed(failure));
    const auto restoreFailed = std::unexpected(ServerConfigurationError::restoreFailed(failure));
    const auto quitting = std::unexpected(ServerConfigurationError::appIsClosing());
    const struct {
        const char* answers;
        bool quitBeforeLast;
        ServerSettingsApplyResult result;
        std::vector<int64_t> launchedPorts;
        std::optional<std::string> ready;
        int64_t storedPort;
    } rows[] = {
        {"sr", false, applied, {4000}, secondURL, 4000},
        {"sfr", false, applyFailed, {4000, firstPort}, firstURL, firstPort},
        {"sff", false, restoreFailed, {4000, firstPort}, std::nullopt, firstPort},
        {"s", true, quitting, {}, std::nullopt, firstPort},
        {"sr", true, applied, {4000}, std::nullopt, 4000},
        {"sf", true, quitting, {4000}, std::nullopt, firstPort},
        {"sfr", true, quitting, {4000, firstPort}, std::nullopt, firstPort},
        {"sff", true, quitting, {4000, firstPort}, std::nullopt, firstPort},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.answers) + (row.quitBeforeLast ? ", quitting" : ""));
        results.clear();
        store = std::make_shared<InMemorySettingsStore>();
        makeApplier();
        apply({4000, {}});
        EXPECT_TRUE(backend->launchedPorts().empty())
            << "nothing launches before the old server stopped";
        const std::string_view answers = row.answers;
        backend->play(answers.substr(0, answers.size() - 1));
        if (row.quitBeforeLast) {
            backend->host->close();
        }
        backend->play(answers.substr(answers.size() - 1));
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0], row.result);
        EXPECT_EQ(backend->launchedPorts(), row.launchedPorts);
        EXPECT_EQ(backend->host->readyURL(), row.ready);
        EXPECT_EQ(settings->serverConfiguration().port.number(), row.storedPort);
    }
}

// The stored settings while a server is ready: its address at once. Forced, with no server
// ready, or on a network change when none ever ran, a restart.
TEST_F(ServerSettingsApplierTest, RestartsOnlyWhenItMust) {
    apply({firstPort, {}});
    EXPECT_EQ(results.at(0)->url, backend->host->readyURL());
    EXPECT_EQ(backend->stops(), 0);
    apply({firstPort, {}}, true);
    backend->play("sr");
    EXPECT_EQ(backend->stops(), 1);

    makeApplier(false);
    apply({firstPort, {}});
    EXPECT_EQ(backend->launchedPorts(0).size(), 1u);
    makeApplier(false);
    applier->networkServicesDidChange({});
    EXPECT_EQ(backend->launchedPorts(0).size(), 1u);
}

TEST_F(ServerSettingsApplierTest, AServerThatRunsButCannotBeSavedSaysWhy) {
    testing::TemporaryDirectory scratch;
    const auto failStep = [](SettingsStoreError::Kind step) {
        return step == SettingsStoreError::Kind::replaceFile ? ENOSPC : 0;
    };
    store = std::make_shared<JsonFileSettingsStore>(scratch.path() / "settings.json",
                                                    JsonFileSettingsStore::Seams{failStep, {}});
    makeApplier();
    apply({4000, {}});
    backend->play("sr");
    ASSERT_TRUE(results.at(0).has_value());
    EXPECT_EQ(results[0]->notSavedReason, store->setInteger("probe", 1).error().description());
}

// Network changes that pile up behind a settings apply become one, which resolves the settings
// stored by the time it runs; the ones stored before may resolve as they did, as here, while
// the apply's own resolution is the stale one. A change that leaves the binding restarts nothing.
TEST_F(ServerSettingsApplierTest, OverlappingAppliesRunOneAfterAnother) {
    network->interfaces = {{"eth0", "10.1.2.3"}};
    ASSERT_TRUE(settings->storeServerConfiguration({firstPort, HubNetworkSelection::localhost()}));
    makeApplier();
    const auto eth0 = HubNetworkSelection::service("eth0", "eth0");
    apply({4000, eth0});
    network->interfaces = {{"eth0", "10.9.9.9"}};
    for (int i = 0; i < 3; ++i) {
        applier->networkServicesDidChange({});
    }
    apply({5000, eth0});
    for (int i = 0; i < 3; ++i) {
        backend->play("sr");
        mainThread->runPending();
    }
    EXPECT_EQ(backend->launchedPorts(), (std::vector<int64_t>{4000, 4000, 5000}));
    EXPECT_EQ(settings->serverConfiguration().port.number(), 5000);

    applier->networkServicesDidChange({});
    mainThread->runPending();
    EXPECT_EQ(backend->stops(), 3);
}

}  // namespace
}  // namespace kelvra
