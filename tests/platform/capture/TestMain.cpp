#include <QCoreApplication>
#include <gtest/gtest.h>

// The capture window serves other threads' requests through posted events, which needs an application
// object on the main thread.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
