// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace kelvra {

/// Where the backend is told to listen, and the host its control-page address carries.
struct BackendServerBinding {
    std::string bindHost;
    uint16_t port = 0;
    std::string urlHost;

    friend bool operator==(const BackendServerBinding&, const BackendServerBinding&) = default;
};

}  // namespace kelvra
