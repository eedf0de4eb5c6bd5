#include <QApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    // A copy of a test program started so stands in for a program that runs,
    // where the system has no sleep(1).
    if (argc == 3 && std::strcmp(argv[1], "--sleep") == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[2])));
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    // Tests draw into memory, never onto a screen, also when CTest lists them.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
