// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include <QString>

#include "core/UnsavedChangeText.h"

namespace kelvra {

inline QString unsavedChangeText(const std::string& reason) {
    return QString::fromStdString(unsavedChangeMessage(reason));
}

}  // namespace kelvra
