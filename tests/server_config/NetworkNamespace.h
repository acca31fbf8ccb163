// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/SerialQueue.h"
#include "support/TestSupport.h"

namespace kelvra::testing {

/// A network namespace of a test's own, with nothing in it but a loopback interface that is
/// down. It lives on a dedicated thread that has left the process's network and mount
/// namespaces and mounted a sysfs of its own, so work given to `run` and programs started by
/// `ip` see only the namespace's interfaces, in sysfs too. The kernel removes the namespace,
/// with every interface in it, once the thread has ended and the last socket opened there is
/// closed; nothing is left behind when a test fails.
class NetworkNamespace {
public:
    /// The namespace, or why this process cannot have one (a text for the skip message).
    static std::expected<std::unique_ptr<NetworkNamespace>, std::string> create();

    /// Runs `work` inside the namespace and waits for it.
    void run(const std::function<void()>& work);

    /// Runs the ip command inside the namespace; an empty text when it succeeded, else what it
    /// printed.
    std::string ip(const std::vector<std::string>& arguments);

    /// Polls `condition` inside the namespace until it holds; false after `limit`.
    bool waitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    NetworkNamespace(std::filesystem::path ipProgram, std::unique_ptr<SerialQueue> thread)
        : ipProgram_(std::move(ipProgram)), thread_(std::move(thread)) {}

    const std::filesystem::path ipProgram_;
    const std::unique_ptr<SerialQueue> thread_;
};

}  // namespace kelvra::testing
