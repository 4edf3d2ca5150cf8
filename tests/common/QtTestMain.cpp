#include <QGuiApplication>
#include <cstdlib>
#include <gtest/gtest.h>

// GoogleTest main for suites that need an event loop, fonts or painting.
int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
