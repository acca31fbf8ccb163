// SPDX-License-Identifier: MIT
#include "NetworkNamespace.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include "core/Error.h"

namespace kelvra::testing {
namespace {

std::optional<std::filesystem::path> findIpProgram() {
    for (const char* candidate : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (::access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

/// Moves the calling thread into a new network namespace with its own view of sysfs; the
/// failure's description otherwise.
std::optional<std::string> enterNewNamespace() {
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        return std::string("needs root to create network namespaces (unshare: ") +
               errorText(errno) + ")";
    }
    // Our mounts must not spread back into the mount namespace we came from.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0) {
        return std::string("could not make the mounts private: ") + errorText(errno);
    }
    // A sysfs mounted from inside the namespace lists the namespace's interfaces.
    ::umount2("/sys", MNT_DETACH);
    if (::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
        return std::string("could not mount sysfs in the namespace: ") + errorText(errno);
    }
    return std::nullopt;
}

}  // namespace

std::expected<std::unique_ptr<NetworkNamespace>, std::string> NetworkNamespace::create() {
    const auto ipProgram = findIpProgram();
    if (!ipProgram) {
        return std::unexpected("needs the ip command (package iproute2) to create interfaces");
    }
    auto thread = std::make_unique<SerialQueue>("com.morvane.kelvrahub.test-netns");
    std::optional<std::string> failure = "the namespace thread ended";
    static_cast<void>(thread->sync([&] { failure = enterNewNamespace(); }));
    if (failure) {
        return std::unexpected(*failure);
    }
    return std::unique_ptr<NetworkNamespace>(new NetworkNamespace(*ipProgram, std::move(thread)));
}

void NetworkNamespace::run(const std::function<void()>& work) {
    // The queue lives as long as this object, so it never shuts down under a caller.
    static_cast<void>(thread_->sync(work));
}

std::string NetworkNamespace::ip(const std::vector<std::string>& arguments) {
    ProcessResult result;
    // Spawned from the namespace's thread, the child starts in the namespace.
    run([&] {
        result = runProcess(ipProgram_, arguments, {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}});
    });
    if (result.exitStatus == 0) {
        return {};
    }
    std::string command = "ip";
    for (const auto& argument : arguments) {
        command += " " + argument;
    }
    return command + " failed with " + std::to_string(result.exitStatus) + ": " +
           result.standardError;
}

bool NetworkNamespace::waitUntil(const std::function<bool()>& condition,
                                 std::chrono::milliseconds limit) {
    return eventually(
        [&] {
            bool holds = false;
            run([&] { holds = condition(); });
            return holds;
        },
        limit);
}

}  // namespace kelvra::testing
