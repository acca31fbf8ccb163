// SPDX-License-Identifier: MIT
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>

#include <QApplication>

// Qt tests need an application object; test discovery runs these binaries outside the test
// environment, so the offscreen platform is chosen here unless the test's own environment names
// one. One style, so that widget screenshots look alike wherever they are taken.
int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
