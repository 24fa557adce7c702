#include "LinkTestUtil.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // The widgets need no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // LinkCore writes ./msg and ./log: every test process has its own folder.
    linktest::WorkDir();
    linktest::UnmapAllPorts();
    linktest::ShortEraseWait();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
