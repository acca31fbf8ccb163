// SPDX-License-Identifier: MIT
// A launch as the application makes one, for tests that need real processes: prints "primary",
// "secondary" or "error <diagnostic>". A secondary posts the open request and prints "posted"
// (or "post-failed <diagnostic>"); a primary prints "open-request" for each request it handles
// until its standard input closes.
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <unistd.h>

#include "core/Environment.h"
#include "core/Error.h"
#include "shell/instance/DistributedNotificationCenter.h"
#include "shell/instance/SingleInstanceCoordinator.h"
#include "support/ManualMainThreadExecutor.h"

int main() {
    using namespace kelvra;
    const auto say = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };

    auto mainThread = std::make_shared<ManualMainThreadExecutor>();
    auto center = std::make_shared<DistributedNotificationCenter>(
        DistributedNotificationCenter::defaultDirectory(currentEnvironment()), mainThread,
        mainThread);
    auto coordinator = SingleInstanceCoordinator::create(
        SingleInstanceCoordinator::defaultDirectory(),
        SingleInstanceCoordinator::defaultNotificationIdentifier(), center);
    if (!coordinator) {
        say("error " + Error(coordinator.error()).diagnosticDescription());
        return 2;
    }
    if (!(*coordinator)->isPrimary()) {
        say("secondary");
        const auto posted = center->post((*coordinator)->notificationName());
        say(posted ? "posted" : "post-failed " + posted.error().diagnosticDescription());
        return 0;
    }

    say("primary");
    (*coordinator)->installOpenHandler([&](auto) { say("open-request"); });
    std::atomic<bool> inputClosed = false;
    std::thread watcher([&] {
        char byte;
        while (::read(STDIN_FILENO, &byte, 1) > 0) {
        }
        inputClosed = true;
        mainThread->post([] {});
    });
    while (!mainThread->runUntil([&] { return inputClosed.load(); }, std::chrono::minutes(10))) {
    }
    watcher.join();
    return 0;
}
