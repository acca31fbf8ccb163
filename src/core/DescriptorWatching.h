// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

namespace kelvra {

/// Waits for descriptors in the main thread's own loop, so that a socket that is quiet most of
/// the time needs no thread of its own. Used from the main thread only.
class DescriptorWatching {
public:
    /// Ends its watch when destroyed; the callback is not called after that.
    class Watch {
    public:
        virtual ~Watch() = default;
    };

    virtual ~DescriptorWatching() = default;

    /// Calls `readable` on the main thread whenever `descriptor` has something to read (or has
    /// failed), for as long as the returned watch lives. The watch is level-triggered: what a
    /// callback leaves unread calls it again, so it may read a bounded amount at a time. A
    /// callback may end its own watch; the owner ends a watch before closing its descriptor.
    virtual std::unique_ptr<Watch> watchReadable(int descriptor,
                                                 std::function<void()> readable) = 0;
};

}  // namespace kelvra
