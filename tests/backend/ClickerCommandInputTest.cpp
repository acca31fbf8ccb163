// SPDX-License-Identifier: MIT
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "backend/ClickerCommandInput.h"

namespace kelvra {
namespace {

// The tap thread writes while the backend's input is replaced and closed, as across restarts:
// each pipe gets only whole lines, and its write end closes once the input is closed and the
// write under way has let go, so no write reaches a descriptor closed or reused meanwhile.
TEST(ClickerCommandInputTest, WritesRacingARestartLandWholeInTheirOwnPipe) {
    const std::string line = R"({"command":"clicker-key","direction":"right","consumed":true})"
                             "\n";
    ClickerCommandInput commands;
    std::atomic<bool> done = false;
    std::thread tap([&] {
        while (!done) {
            commands.write(ClickerDirection::right);
        }
    });
    for (int restart = 0; restart < 200; ++restart) {
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        const UniqueFd reader(ends[0]);
        commands.open(std::make_shared<UniqueFd>(ends[1]));
        std::this_thread::yield();
        commands.close();
        std::string received;
        bool ended = false;
        char buffer[4096];
        for (pollfd readable{reader.get(), POLLIN, 0}; ::poll(&readable, 1, 10'000) == 1;) {
            const ssize_t size = ::read(reader.get(), buffer, sizeof buffer);
            if (size <= 0) {
                ended = size == 0;  // nothing holds the write end any more
                break;
            }
            received.append(buffer, static_cast<size_t>(size));
        }
        ASSERT_TRUE(ended);
        ASSERT_EQ(received.size() % line.size(), 0u);
        for (size_t at = 0; at < received.size(); at += line.size()) {
            ASSERT_EQ(received.compare(at, line.size(), line), 0);
        }
    }
    done = true;
    tap.join();
}

}  // namespace
}  // namespace kelvra
