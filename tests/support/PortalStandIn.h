// SPDX-License-Identifier: MIT
// A private session bus with a stand-in of the desktop's settings portal on it
// (tests/desktop/portal_stand_in.py). Header-only: the source folder is a definition of each
// test target.
#pragma once

#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "support/SpawnedProcess.h"
#include "support/TestSupport.h"

namespace kelvra::testing {

class PortalStandIn {
public:
    /// Starts the bus and, given `serve` (the stand-in's "serve" arguments: the colour scheme,
    /// then "old" for a portal with Read alone), the portal on it.
    explicit PortalStandIn(const std::vector<std::string>& serve = {}) {
        using namespace std::chrono_literals;
        writeFile(directory_.path() / "bus.conf",
                  "<busconfig><type>session</type><listen>" + address_ +
                      "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
                      "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>");
        bus_.emplace(
            "/usr/bin/dbus-daemon",
            std::vector<std::string>{"--nofork", "--print-address",
                                     "--config-file=" + (directory_.path() / "bus.conf").string()},
            kNoEnvironment);
        EXPECT_TRUE(bus_->readLine(20s));  // listening once it says where
        if (!serve.empty()) {
            portal_.emplace(kPython, arguments("serve", serve), kNoEnvironment);
            EXPECT_EQ(portal_->readLine(20s), "ready");
        }
    }

    const std::string& address() const { return address_; }

    /// Serves `scheme` from now on; returns once the portal has announced it.
    void set(const std::string& scheme) {
        SpawnedProcess setter(kPython, arguments("set", {scheme}), kNoEnvironment);
        EXPECT_EQ(setter.wait(std::chrono::seconds(20)), 0);
    }

private:
    static constexpr const char* kPython = "/usr/bin/python3";  // the one with the D-Bus bindings
    inline static const std::map<std::string, std::string> kNoEnvironment;

    std::vector<std::string> arguments(const std::string& command,
                                       const std::vector<std::string>& rest) const {
        std::vector<std::string> all{KELVRA_TEST_SOURCE_DIR "/tests/desktop/portal_stand_in.py",
                                     address_, command};
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    }

    TemporaryDirectory directory_;
    const std::string address_ = "unix:path=" + (directory_.path() / "bus").string();
    std::optional<SpawnedProcess> bus_;
    std::optional<SpawnedProcess> portal_;
};

}  // namespace kelvra::testing
