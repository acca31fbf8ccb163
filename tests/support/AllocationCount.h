// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace kelvra::testing {

/// How many times the calling thread has allocated with `new` so far. Counts only in a test
/// executable that is built with AllocationCount.cpp, which replaces the global `new`.
uint64_t allocationsOnThisThread();

}  // namespace kelvra::testing
