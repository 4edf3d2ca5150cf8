#include "engine/EngineApplication.h"

#include <QGuiApplication>
#include <cstdlib>
#include <gtest/gtest.h>

// The engine's tests run under the program's own application object, so exceptions escaping an
// event handler take the same path as in the program.
int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    sw::TEngineApplication<QGuiApplication> application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
