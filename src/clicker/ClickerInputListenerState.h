// SPDX-License-Identifier: MIT
#pragma once

namespace kelvra {

/// The keyboard listener's state as it reports it.
enum class ClickerInputListenerState { stopped, starting, listening, failed };

}  // namespace kelvra
