// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "server_config/ServerStatus.h"

namespace kelvra {
namespace {

TEST(ServerStatusTest, TheAddressShownFillsInWhatTheURLLeavesOut) {
    const std::pair<std::string, std::string> rows[] = {
        {"http://192.168.1.20:3000/", "192.168.1.20:3000"},
        {"http://192.168.1.20/", "192.168.1.20:80"},
        {"http:/path", "localhost:80"},
        {"not a URL at all", "localhost:80"},
    };
    for (const auto& [url, shown] : rows) {
        EXPECT_EQ(controlPageHostAndPort(url), shown) << url;
    }
}

}  // namespace
}  // namespace kelvra
