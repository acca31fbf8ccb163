// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <utility>

namespace kelvra {

/// `work(object, arguments…)` as a callback that holds `object` weakly and does nothing once it
/// is gone, so a late callback never keeps its receiver alive or reaches a destroyed one.
template <typename Object, typename Work>
auto weakly(std::weak_ptr<Object> object, Work work) {
    return [object = std::move(object), work = std::move(work)](auto&&... arguments) mutable {
        if (auto strong = object.lock()) {
            work(*strong, std::forward<decltype(arguments)>(arguments)...);
        }
    };
}

}  // namespace kelvra
