// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "server_config/HubServerConfigurationStore.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using nlohmann::json;
using Selection = HubNetworkSelection;

HubServerConfiguration configuration(int64_t port, Selection selection) {
    return {HubServerPort::from(port).value(), std::move(selection)};
}

TEST(HubServerConfigurationStoreTest, ReadsStoredValuesAndFallsBackOnAnythingUnusable) {
    const struct {
        const char* stored;
        HubServerConfiguration expected;
    } rows[] = {
        {R"j({})j", configuration(31603, Selection::allNetworks())},
        // Port: only integers 1 through 65535 count, below 1024 included.
        {R"j({"hubServerPort": -1})j", configuration(31603, Selection::allNetworks())},
        {R"j({"hubServerPort": 0})j", configuration(31603, Selection::allNetworks())},
        {R"j({"hubServerPort": 65536})j", configuration(31603, Selection::allNetworks())},
        {R"j({"hubServerPort": 1})j", configuration(1, Selection::allNetworks())},
        {R"j({"hubServerPort": "8080"})j", configuration(31603, Selection::allNetworks())},
        // Mode: exact texts only.
        {R"j({"hubServerNetworkMode": "localhost"})j",
         configuration(31603, Selection::localhost())},
        {R"j({"hubServerNetworkMode": "Localhost"})j",
         configuration(31603, Selection::allNetworks())},
        {R"j({"hubServerNetworkMode": "localhost", "hubServerNetworkServiceID": "eth0"})j",
         configuration(31603, Selection::localhost())},
        // Service: an identifier is required; the name falls back to it only when absent.
        {R"j({"hubServerNetworkMode": "service", "hubServerNetworkServiceID": "eth0",
             "hubServerNetworkServiceName": "Ethernet (eth0)"})j",
         configuration(31603, Selection::service("eth0", "Ethernet (eth0)"))},
        {R"j({"hubServerNetworkMode": "service", "hubServerNetworkServiceID": "eth0"})j",
         configuration(31603, Selection::service("eth0", "eth0"))},
        {R"j({"hubServerNetworkMode": "service", "hubServerNetworkServiceID": "eth0",
             "hubServerNetworkServiceName": ""})j",
         configuration(31603, Selection::service("eth0", ""))},
        {R"j({"hubServerNetworkMode": "service", "hubServerNetworkServiceID": "",
             "hubServerNetworkServiceName": "Wi-Fi"})j",
         configuration(31603, Selection::allNetworks())},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        const auto settings = std::make_shared<InMemorySettingsStore>(json::parse(row.stored));
        EXPECT_EQ(HubServerConfigurationStore(settings).configuration(), row.expected);
    }
}

TEST(HubServerConfigurationStoreTest, WritesExactlyTheKeysOfTheSelection) {
    const json stale = {
        {"hubServerPort", 1},
        {"hubServerNetworkMode", "service"},
        {"hubServerNetworkServiceID", "old"},
        {"hubServerNetworkServiceName", "Old"},
        {"unrelated", true},
    };
    const struct {
        const char* name;
        HubServerConfiguration written;
        json expected;
    } rows[] = {
        {"all networks",
         configuration(8080, Selection::allNetworks()),
         {{"hubServerPort", 8080}, {"unrelated", true}}},
        {"localhost",
         configuration(8080, Selection::localhost()),
         {{"hubServerPort", 8080}, {"hubServerNetworkMode", "localhost"}, {"unrelated", true}}},
        {"service",
         configuration(8080, Selection::service("wlp2s0", "Wi-Fi (wlp2s0)")),
         {{"hubServerPort", 8080},
          {"hubServerNetworkMode", "service"},
          {"hubServerNetworkServiceID", "wlp2s0"},
          {"hubServerNetworkServiceName", "Wi-Fi (wlp2s0)"},
          {"unrelated", true}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto settings = std::make_shared<InMemorySettingsStore>(stale);
        const HubServerConfigurationStore reader(settings);
        ASSERT_TRUE(HubServerConfigurationStore(settings).setConfiguration(row.written));
        EXPECT_EQ(json(settings->values()), row.expected);
        // Nothing is cached: the first store sees what the second wrote.
        EXPECT_EQ(reader.configuration(), row.written);
    }
}

}  // namespace
}  // namespace kelvra
