// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>

namespace kelvra {

/// The supervisor's deadlines; tests shorten them.
struct BackendSupervisorTimeouts {
    using Seconds = std::chrono::duration<double>;
    Seconds startup{15};
    Seconds shutdown{5};
    Seconds terminate{2};
    Seconds kill{1};
    Seconds clickerUpdate{5};
};

}  // namespace kelvra
