// SPDX-License-Identifier: MIT
#include <fstream>
#include <gtest/gtest.h>

#include "server_config/HubServerPortAvailabilityChecker.h"
#include "server_config/HubServerPortInputValidator.h"
#include "support/BoundSocket.h"

namespace kelvra {
namespace {

using namespace std::string_literals;
using Validation = HubServerPortInputValidation;

const auto kEnterPort = Validation::invalid("Enter a port number.");
const auto kNumbersOnly = Validation::invalid("Port must contain numbers only.");
const auto kOutOfRange = Validation::invalid("Use a port from 1024 through 65535.");

TEST(HubServerPortInputValidatorTest, ValidatesTypedText) {
    const struct {
        std::string text;
        int64_t activePort;
        Validation expected;
    } rows[] = {
        {"8080", 31603, Validation::valid(8080)},
        {"\u00a08080\u3000", 31603, Validation::valid(8080)},
        {"", 31603, kEnterPort},
        {"-8080", 31603, kNumbersOnly},
        {"\u0668\u0660\u0668\u0660", 31603, kNumbersOnly},  // Arabic-Indic 8080
        {"80\xff", 31603, kNumbersOnly},
        {"80\0"s
         "80",
         31603, kNumbersOnly},
        {"9223372036854775808", 31603, kNumbersOnly},
        {"9223372036854775807", 31603, kOutOfRange},
        {"00000000000000000000008080", 31603, Validation::valid(8080)},
        {"1024", 31603, Validation::valid(1024)},
        {"65536", 31603, kOutOfRange},
        {"31603", 31603, Validation::unchanged()},
        // The active port is recognised before the range applies.
        {"080", 80, Validation::unchanged()},
        {"81", 80, kOutOfRange},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("\"" + row.text + "\" with active port " + std::to_string(row.activePort));
        EXPECT_EQ(HubServerPortInputValidator::validate(row.text, row.activePort), row.expected);
    }
}

TEST(HubServerPortAvailabilityCheckerTest, FindsTakenPortsAndLeavesFreeOnesFree) {
    const testing::BoundSocket allInterfaces = testing::bindSocket("0.0.0.0", true);
    const testing::BoundSocket loopback = testing::bindSocket("127.0.0.1", true);
    for (const char* host : {"0.0.0.0", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        // Either listener takes the port for both hosts.
        for (const int port : {allInterfaces.port, loopback.port}) {
            EXPECT_EQ(HubServerPortAvailabilityChecker::errorMessage(port, host),
                      "Port " + std::to_string(port) + " is already in use.");
        }
        const int64_t port = testing::freePort();
        EXPECT_EQ(HubServerPortAvailabilityChecker::errorMessage(port, host), std::nullopt);
        // The checker's socket is gone: the server could listen there now.
        EXPECT_EQ(testing::bindSocket(host, true, port).port, port);
    }
}

TEST(HubServerPortAvailabilityCheckerTest, RejectsPortsAndHostsWithoutBinding) {
    // Every row names a port that is taken, so a message other than "already in use" shows
    // that no bind was tried.
    const testing::BoundSocket taken = testing::bindSocket("0.0.0.0", true);
    const std::string port = std::to_string(taken.port);
    const std::string otherNetwork =
        "Kelvra Hub could not check port " + port + " on the selected network.";
    const struct {
        int64_t port;
        std::string bindHost;
        std::string expected;
    } rows[] = {
        {65536, "127.0.0.1", "Port 65536 is not available."},
        {INT64_MIN, "0.0.0.0", "Port -9223372036854775808 is not available."},
        {taken.port, "localhost", otherNetwork},
        {taken.port, "::1", otherNetwork},
        {taken.port, "", otherNetwork},
        {taken.port, "256.0.0.1", otherNetwork},
        {taken.port, "0x7f.0.0.1", otherNetwork},
        {taken.port, "0.0.0.0\0garbage"s, otherNetwork},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("\"" + row.bindHost + "\":" + std::to_string(row.port));
        EXPECT_EQ(HubServerPortAvailabilityChecker::errorMessage(row.port, row.bindHost),
                  row.expected);
    }
}

TEST(HubServerPortAvailabilityCheckerTest, AnAddressOfNoInterfaceIsNotAvailable) {
    std::ifstream nonlocalBind("/proc/sys/net/ipv4/ip_nonlocal_bind");
    int allowed = 0;
    if (nonlocalBind >> allowed && allowed != 0) {
        GTEST_SKIP() << "this system lets sockets bind to addresses of no interface";
    }
    const int64_t port = testing::freePort();
    // 192.0.2.1 is reserved for documentation, so no interface has it; binding sends nothing.
    EXPECT_EQ(HubServerPortAvailabilityChecker::errorMessage(port, "192.0.2.1"),
              "Port " + std::to_string(port) + " is not available on the selected network.");
}

}  // namespace
}  // namespace kelvra
