// SPDX-License-Identifier: MIT
// Header-only: the fuzzer builds the test support without gtest.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "core/UniqueFd.h"

namespace kelvra::testing {

/// A TCP socket bound to `host` on `port` (0: one the system picks), listening when asked to.
/// Ports the system hands out keep other programs on this machine from interfering.
struct BoundSocket {
    UniqueFd descriptor;
    int port = 0;
};

inline BoundSocket bindSocket(const char* host, bool listening, int64_t port = 0) {
    BoundSocket bound{UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), 0};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host, &address.sin_addr);
    socklen_t length = sizeof address;
    if (!bound.descriptor ||
        ::bind(bound.descriptor.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (listening && ::listen(bound.descriptor.get(), 4) != 0) ||
        ::getsockname(bound.descriptor.get(), reinterpret_cast<sockaddr*>(&address), &length) !=
            0) {
        ADD_FAILURE() << "could not bind a socket on " << host;
        return {};
    }
    bound.port = ntohs(address.sin_port);
    return bound;
}

/// A port nobody uses right now on any address: the default one may be taken by another test
/// run, and a port free on loopback alone may carry another program's connection elsewhere.
inline int freePort() {
    return bindSocket("0.0.0.0", false).port;
}

}  // namespace kelvra::testing
