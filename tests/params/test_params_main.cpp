#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    // The link library writes its trace and run-info logs below the working
    // directory: every test process gets its own.
    QTemporaryDir work;
    if (work.isValid()) QDir::setCurrent(work.path());
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
