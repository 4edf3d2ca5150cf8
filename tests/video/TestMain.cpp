#include <QCoreApplication>
#include <gtest/gtest.h>

// The capture control tests collect posted log entries and serve cross-thread requests, which needs an
// application object on the main thread.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
