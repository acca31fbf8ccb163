// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

#include "core/DescriptorWatching.h"

namespace kelvra {

/// Tells when an interface's IPv4 state or the set of interfaces may have changed. Says
/// nothing about what changed; one call may stand for several changes.
class NetworkChangeSource {
public:
    virtual ~NetworkChangeSource() = default;

    /// Begins watching and calls `changed` for each change, until `stop` returns. False when
    /// watching cannot begin; the source then stays stopped. `changed` must not call `stop`.
    virtual bool start(std::function<void()> changed) = 0;

    /// Ends watching; no call of `changed` is running or follows once it returns. Does nothing
    /// when not watching. The source may be started again.
    virtual void stop() = 0;
};

/// Watches the caller's network namespace: on Linux an rtnetlink socket subscribed to IPv4
/// address and link changes, read on the main thread when `watcher` finds it readable. Started
/// and stopped on the main thread.
std::shared_ptr<NetworkChangeSource> makeSystemNetworkChangeSource(
    std::shared_ptr<DescriptorWatching> watcher);

}  // namespace kelvra
