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

HubServerPort port(int64_t number) {
    return HubServerPort::from(number).value();
}

TEST(HubServerPortInputValidatorTest, ValidatesTypedText) {
    const struct {
        std::string text;
        HubServerPort activePort;
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
        {"1023", 31603, kOutOfRange},
        {"1024", 31603, Validation::valid(1024)},
        {"65535", 31603, Validation::valid(65535)},
        {"65536", 31603, kOutOfRange},
        {"31603", 31603, Validation::unchanged()},
        // The active port is recognised before the range applies.
        {"080", 80, Validation::unchanged()},
        {"81", 80, kOutOfRange},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("\"" + row.text + "\" with active port " +
                     std::to_string(row.activePort.number()));
        EXPECT_EQ(HubServerPortInputValidator::validate(row.text, row.activePort), row.expected);
    }
}

TEST(HubServerPortAvailabilityCheckerTest, FindsTakenPortsAndLeavesFreeOnesFree) {
    const testing::BoundSocket allInterfaces = testing::bindSocket("0.0.0.0", true);
    const testing::BoundSocket loopback = testing::bindSocket("127.0.0.1", true);
    for (const char* host : {"0.0.0.0", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        // Either listener takes the port for both hosts.
        for (const int taken : {allInterfaces.port, loopback.port}) {
            EXPECT_EQ(HubServerPortAvailabilityChecker::errorMessage(port(taken), host),
                      "Port " + std::to_string(taken) + " is already in use.");
        }
        const int free = testing::freePort();
        EXPECT_EQ(HubServerPortAvailabilityChecker::errorMessage(port(free), host), std::nullopt);
        // The checker's socket is gone: the server could listen there now.
        EXPECT_EQ(testing::bindSocket(host, true, free).port, free);
    }
}

TEST(HubServerPortAvailabilityCheckerTest, RejectsPortsAndHostsWithoutBinding) {
    // Every row names a port that is taken, so a message other than "already in use" shows
    // that no bind was tried.
    const testing::BoundSocket taken = testing::bindSocket("0.0.0.0", true);
    const std::string otherNetwork = "Kelvra Hub could not check port " +
                                     std::to_string(taken.port) + " on the selected network.";
    for (const std::string& bindHost :
         {"localhost"s, "::1"s, ""s, "256.0.0.1"s, "0x7f.0.0.1"s, "0.0.0.0\0garbage"s}) {
        SCOPED_TRACE("\"" + bindHost + "\"");
        EXPECT_EQ(HubServerPortAvailabilityChecker::errorMessage(port(taken.port), bindHost),
                  otherNetwork);
    }
}

TEST(HubServerPortAvailabilityCheckerTest, AnAddressOfNoInterfaceIsNotAvailable) {
    std::ifstream nonlocalBind("/proc/sys/net/ipv4/ip_nonlocal_bind");
    int allowed = 0;
    if (nonlocalBind >> allowed && allowed != 0) {
        GTEST_SKIP() << "this system lets sockets bind to addresses of no interface";
    }
    const int free = testing::freePort();
    // 192.0.2.1 is reserved for documentation, so no interface has it; binding sends nothing.
    EXPECT_EQ(HubServerPortAvailabilityChecker::errorMessage(port(free), "192.0.2.1"),
              "Port " + std::to_string(free) + " is not available on the selected network.");
}

}  // namespace
}  // namespace kelvra
