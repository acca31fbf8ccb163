// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "server_config/linux/LinuxNetworkServiceSource.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using kelvra::testing::writeFile;

/// Lays out an interface directory as sysfs shows it: the files and directories named, each
/// "name=value" a file with that content, each bare name a directory.
void makeInterface(const fs::path& classNet, const std::string& name,
                   const std::vector<std::string>& entries) {
    const fs::path directory = classNet / name;
    fs::create_directories(directory);
    for (const auto& entry : entries) {
        const auto equals = entry.find('=');
        if (equals == std::string::npos) {
            fs::create_directories(directory / entry);
        } else {
            writeFile(directory / entry.substr(0, equals), entry.substr(equals + 1) + "\n");
        }
    }
}

TEST(LinuxNetworkServiceSourceTest, LabelsInterfacesByKind) {
    kelvra::testing::TemporaryDirectory sysfs;
    const fs::path classNet = sysfs.path() / "class" / "net";
    // Names that could leave the directory are not looked up: followed blindly, each reaches a
    // directory that holds "wireless".
    fs::create_directories(classNet / "wireless");
    fs::create_directories(classNet.parent_path() / "wireless");
    const struct {
        const char* interfaceName;
        std::vector<std::string> entries;
        const char* label;
    } rows[] = {
        {"enp3s0", {"type=1", "device"}, "Ethernet (enp3s0)"},
        {"wlp2s0", {"type=1", "device", "wireless"}, "Wi-Fi (wlp2s0)"},
        {"wlan0", {"type=1", "device", "phy80211"}, "Wi-Fi (wlan0)"},
        {"veth0", {"type=1"}, "veth0"},
        {"ib0", {"type=32", "device"}, "ib0"},
        {"odd0", {"type=garbage", "device"}, "odd0"},
        {"gone0", {}, "gone0"},
        {"..", {}, ".."},
        {"../net", {}, "../net"},
        {".", {}, "."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.interfaceName);
        if (!row.entries.empty()) {
            makeInterface(classNet, row.interfaceName, row.entries);
        }
        EXPECT_EQ(LinuxNetworkServiceSource::interfaceLabel(classNet, row.interfaceName),
                  row.label);
    }
}

}  // namespace
}  // namespace kelvra
