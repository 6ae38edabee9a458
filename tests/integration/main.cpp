#include <gtest/gtest.h>

#include <QCoreApplication>

// The serial port and the timers need an event loop, as in the program.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
