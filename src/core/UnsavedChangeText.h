// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace kelvra {

/// What a change that is in use but could not be saved means for the person, after the
/// settings store's `reason`: the store keeps it and writes it with the next save that works.
inline std::string unsavedChangeMessage(const std::string& reason) {
    return reason +
           " Kelvra Hub uses the change now and saves it with the next setting it can save; "
           "quitting before then loses it.";
}

}  // namespace kelvra
