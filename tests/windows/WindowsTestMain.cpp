// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <gtest/gtest.h>

#include <QApplication>

// Widget tests need an application object; test discovery runs this binary outside the test
// environment, so the offscreen platform is chosen here rather than by ctest.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
