#include "engine/EngineApplication.h"

#include <QCoreApplication>
#include <csignal>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    // The engine's application object, so an exception escaping an event handler takes the same path
    // as in the program.
    sw::TEngineApplication<QCoreApplication> application(argc, argv);
    return RUN_ALL_TESTS();
}
