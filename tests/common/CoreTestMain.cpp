// Test entry point for core tests that need Qt's event loop (processes,
// sockets, timers) but no window system: a QCoreApplication only.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
