#include <QCoreApplication>

#include <gtest/gtest.h>

// Adapter tests need an event loop for socket and notifier events.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
