// SPDX-License-Identifier: MIT
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>

#include <QApplication>

// The application's pieces need an application object; test discovery runs this binary
// outside the test environment, so the offscreen platform is chosen here rather than by ctest.
int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
