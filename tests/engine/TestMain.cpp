#include <QCoreApplication>
#include <gtest/gtest.h>

// The engine posts its log entries and window messages as events, which needs an application object.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
