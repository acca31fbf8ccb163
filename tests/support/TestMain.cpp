// SPDX-License-Identifier: MIT
#include <csignal>
#include <gtest/gtest.h>

// Like the application's main: a write to a child that has died fails with EPIPE instead of
// ending the process.
int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
