// SPDX-License-Identifier: MIT
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <net/if.h>

#include "NetworkNamespace.h"
#include "RecordedNetworkChanges.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "server_config/linux/LinuxNetworkServiceSource.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using Services = std::vector<HubNetworkService>;

HubNetworkService listed(const std::string& interfaceName, std::vector<std::string> addresses) {
    // Virtual pairs have no label of their own.
    return {interfaceName, interfaceName, interfaceName, std::move(addresses)};
}

/// Real interfaces in a namespace of the test's own, against the real kernel.
class NetworkNamespaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto created = testing::NetworkNamespace::create();
        if (!created) {
            GTEST_SKIP() << created.error();
        }
        namespace_ = std::move(*created);
    }

    /// Runs `ip` in the namespace; fails the test when it fails.
    void ip(const std::vector<std::string>& arguments) {
        const std::string failure = namespace_->ip(arguments);
        ASSERT_EQ(failure, "");
    }

    /// A veth pair whose ends are up as asked; the first end gets `address` when given.
    void addPair(const std::string& first, const std::string& second, bool firstUp, bool secondUp,
                 const std::string& address = {}) {
        ip({"link", "add", first, "type", "veth", "peer", "name", second});
        if (!address.empty()) {
            ip({"address", "add", address, "dev", first});
        }
        if (firstUp) {
            ip({"link", "set", first, "up"});
        }
        if (secondUp) {
            ip({"link", "set", second, "up"});
        }
    }

    /// Waits until the kernel reports the interfaces as running; it does so a moment after
    /// they come up.
    void waitUntilRunning(const std::vector<std::string>& interfaceNames) {
        const bool running = namespace_->waitUntil([&] {
            const auto entries = LinuxNetworkServiceSource().interfaceAddresses().value_or(
                std::vector<InterfaceAddressEntry>{});
            return std::ranges::all_of(interfaceNames, [&](const std::string& name) {
                return std::ranges::any_of(entries, [&](const auto& entry) {
                    return entry.interfaceName == name && (entry.flags & IFF_RUNNING) != 0;
                });
            });
        });
        ASSERT_TRUE(running) << "the interfaces did not start running";
    }

    Services availableServices() {
        Services services;
        namespace_->run([&] {
            services =
                HubNetworkServiceProvider(makeSystemNetworkServiceSource()).availableServices();
        });
        return services;
    }

    std::unique_ptr<testing::NetworkNamespace> namespace_;
};

TEST_F(NetworkNamespaceTest, ListsRunningInterfacesWithAnIPv4AddressAsTheyChange) {
    addPair("kvup0", "kvup1", true, true, "192.168.77.20/24");
    addPair("kvdown0", "kvdown1", false, true, "10.78.0.1/24");
    addPair("kvnocarrier0", "kvnocarrier1", true, false, "10.79.0.1/24");
    addPair("kv6only0", "kv6only1", true, true);
    ip({"-6", "address", "add", "fd00:77::1/64", "dev", "kv6only0", "nodad"});
    ip({"link", "set", "lo", "up"});
    waitUntilRunning({"kvup0", "kvup1", "kv6only0", "lo"});
    bool sysfsShowsTheNamespace = false;
    namespace_->run(
        [&] { sysfsShowsTheNamespace = std::filesystem::exists("/sys/class/net/kvup0"); });
    ASSERT_TRUE(sysfsShowsTheNamespace);

    EXPECT_EQ(availableServices(), (Services{listed("kvup0", {"192.168.77.20"})}));

    // Addresses are followed as they are added, and interfaces as they go down.
    ip({"address", "add", "10.77.0.7/24", "dev", "kvup0"});
    EXPECT_EQ(availableServices(), (Services{listed("kvup0", {"10.77.0.7", "192.168.77.20"})}));

    // The same address under another prefix is a second kernel entry, listed once.
    ip({"address", "add", "10.77.0.7/16", "dev", "kvup0"});
    ip({"address", "add", "10.77.0.10/24", "dev", "kvup0"});
    ip({"address", "add", "10.88.0.1/24", "dev", "kvup1"});
    EXPECT_EQ(availableServices(),
              (Services{listed("kvup0", {"10.77.0.10", "10.77.0.7", "192.168.77.20"}),
                        listed("kvup1", {"10.88.0.1"})}));

    // Down, and its peer loses the carrier with it.
    ip({"link", "set", "kvup0", "down"});
    EXPECT_TRUE(namespace_->waitUntil([&] {
        return HubNetworkServiceProvider(makeSystemNetworkServiceSource())
            .availableServices()
            .empty();
    }));
}

TEST_F(NetworkNamespaceTest, MonitorReportsABurstOfChangesOnceAndNothingPendingAtStop) {
    addPair("kvmon0", "kvmon1", true, true, "10.80.0.1/24");
    waitUntilRunning({"kvmon0", "kvmon1"});
    const auto mainThread = std::make_shared<ManualMainThreadExecutor>();
    testing::RecordedNetworkChanges changes(makeSystemNetworkChangeSource(mainThread), mainThread);
    // The monitor's socket belongs to the namespace it was opened in.
    namespace_->run([&] { changes.monitor->start(); });
    ASSERT_TRUE(changes.monitor->isRunning());

    // The kernel announces an address before `ip` returns, so the burst is read at once.
    for (int host = 2; host <= 6; ++host) {
        ip({"address", "add", "10.80.0." + std::to_string(host) + "/24", "dev", "kvmon0"});
    }
    mainThread->runPending();
    mainThread->advance(HubNetworkServiceMonitor::defaultDebounceInterval - 1ms);
    EXPECT_EQ(changes.reports, 0u);
    mainThread->advance(1ms);
    EXPECT_EQ(changes.reports, 1u);
    EXPECT_FALSE(changes.runUntil(2, 1s));

    // Links are watched too.
    ip({"link", "set", "kvmon1", "down"});
    EXPECT_TRUE(changes.runUntil(2, 10s));

    // A change still settling when the monitor stops is never reported.
    ip({"address", "add", "10.80.0.9/24", "dev", "kvmon0"});
    mainThread->runPending();
    mainThread->advance(1s);
    changes.monitor->stop();
    mainThread->advance(10s);
    EXPECT_EQ(changes.reports, 2u);
}

}  // namespace
}  // namespace kelvra
