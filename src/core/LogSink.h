// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace kelvra {

/// Where components write their diagnostic lines; each module passes its own category.
/// Writing never fails towards the caller and is safe from any thread.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(std::string_view category, std::string_view message) = 0;
};

}  // namespace kelvra
