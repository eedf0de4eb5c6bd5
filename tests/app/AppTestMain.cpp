#include "app/KavlentoApplication.h"

#include <gtest/gtest.h>

// The application tests run under the program's own application object, so
// that a failure leaving a handler takes the same path as in the program.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    kavlento::KavlentoApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
