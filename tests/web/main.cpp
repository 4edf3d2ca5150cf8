#include <QCoreApplication>
#include <gtest/gtest.h>
#include <signal.h>

int main(int argc, char** argv) {
    // The default SIGPIPE action must stay in force: a server write that raised it would end the run.
    ::signal(SIGPIPE, SIG_DFL);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
